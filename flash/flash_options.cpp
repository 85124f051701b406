#include "flash/flash_options.h"

#include "loader/kelvload_doc.h"

#include <cerrno>
#include <cstdlib>
#include <string_view>

namespace {

constexpr const char* kHelp =
    R"(Usage: trakbus-flash [--port COMn|PATH] [--rate BITS] [--quiet] FILE.kfw
       trakbus-flash --discover [--port COMn|PATH] [--rate BITS] [--product P] [--wait MS]
       trakbus-flash --identify SERIAL [--product P] [--port COMn|PATH] [--rate BITS] [--wait MS]

Downloads a KFW firmware file over the Trakbus to a device in its boot loader, the way kelvload
does, or finds the devices on the bus.

  --port COMn|PATH   the bus interface's port: a COM name or a device path
                     (default: kelvload's stored port)
  --rate BITS        bit rate: 9600, 14400, 16457, 19200, 38400, 56000, 57600 or 115200
                     (default: kelvload's stored bit rate)
  --quiet            no progress on stderr
  --discover         send a discover request and print one line per device that answers:
                     product, serial number, software, hardware and IPL versions
  --product P        discover only devices of product code P; with --identify, the product
                     of the device to identify (else it is found by a discover request)
  --wait MS          how long to wait for replies (default 1000)
  --identify SERIAL  ask the device with this serial number (hexadecimal) to identify itself
  --help             this text
  --version          the program's version

Progress goes to stderr: a bar with per cent, messages sent and time left on a terminal, else a
line at every 10 %. Ctrl+C stops a download after the record under way and ends it with the
end message, as kelvload's stop does.

Exit status:
  0   done
  1   programming failed or was stopped; no device answered the identify request
  2   port failed: missing, busy, no permission, or lost during the run
  3   file not valid
  64  usage error
)";

bool ParseNumber(std::string_view text, int base, long long low, long long high, long long& value) {
    if (text.empty()) {
        return false;
    }
    const std::string copy(text);
    char* end = nullptr;
    errno = 0;
    value = std::strtoll(copy.c_str(), &end, base);
    return errno == 0 && end != nullptr && *end == '\0' && value >= low && value <= high;
}

} // namespace

void PrintFlashHelp(std::FILE* out) {
    std::fputs(kHelp, out);
}

bool ParseFlashOptions(int argc, char** argv, FlashOptions& options, std::string& error) {
    bool discover = false;
    bool identify = false;
    for (int i = 1; i < argc; ++i) {
        std::string_view arg = argv[i];
        std::string_view name = arg;
        std::optional<std::string_view> inlineValue;
        if (arg.starts_with("--")) {
            const auto equals = arg.find('=');
            if (equals != std::string_view::npos) {
                name = arg.substr(0, equals);
                inlineValue = arg.substr(equals + 1);
            }
        }
        // The option's value from "--name=value" or the next argument.
        const auto value = [&](std::string_view& out) {
            if (inlineValue) {
                out = *inlineValue;
                return true;
            }
            if (i + 1 >= argc) {
                error = std::string(name) + " needs a value";
                return false;
            }
            out = argv[++i];
            return true;
        };
        std::string_view text;
        long long number = 0;
        if (name == "--help" || name == "-h") {
            options.mode = FlashMode::Help;
            return true;
        } else if (name == "--version") {
            options.mode = FlashMode::Version;
            return true;
        } else if (name == "--port") {
            if (!value(text)) {
                return false;
            }
            if (text.empty()) {
                error = "--port needs a COM name or a path";
                return false;
            }
            options.port = std::string(text);
        } else if (name == "--rate") {
            if (!value(text)) {
                return false;
            }
            options.rateIndex.reset();
            if (ParseNumber(text, 10, 1, 10000000, number)) {
                for (int index = 0; index < kBitRateCount; ++index) {
                    if (kBitRates[index] == number) {
                        options.rateIndex = index;
                    }
                }
            }
            if (!options.rateIndex) {
                error = "--rate " + std::string(text) + " is not one of the loader's bit rates";
                return false;
            }
        } else if (name == "--quiet" || name == "-q") {
            options.quiet = true;
        } else if (name == "--discover") {
            discover = true;
        } else if (name == "--product") {
            if (!value(text) || !ParseNumber(text, 0, 0, 255, number)) {
                if (error.empty()) {
                    error = "--product needs a product code from 0 to 255";
                }
                return false;
            }
            options.product = static_cast<int>(number);
            options.productGiven = true;
        } else if (name == "--wait") {
            if (!value(text) || !ParseNumber(text, 10, 0, 600000, number)) {
                if (error.empty()) {
                    error = "--wait needs milliseconds from 0 to 600000";
                }
                return false;
            }
            options.waitMs = static_cast<int>(number);
        } else if (name == "--identify") {
            if (!value(text) || !ParseNumber(text, 16, 0, 0xFFFFFF, number)) {
                if (error.empty()) {
                    error = "--identify needs a serial number of up to six hexadecimal digits";
                }
                return false;
            }
            identify = true;
            options.serial = static_cast<std::uint32_t>(number);
        } else if (arg.starts_with("-") && arg.size() > 1) {
            error = "unknown option " + std::string(arg);
            return false;
        } else if (options.file.empty()) {
            options.file = std::string(arg);
        } else {
            error = "only one firmware file can be downloaded at a time";
            return false;
        }
    }
    if (discover && identify) {
        error = "--discover and --identify do not go together";
        return false;
    }
    if ((discover || identify) && !options.file.empty()) {
        error = "a firmware file does not go with --discover or --identify";
        return false;
    }
    if (discover) {
        options.mode = FlashMode::Discover;
    } else if (identify) {
        options.mode = FlashMode::Identify;
    } else if (options.file.empty()) {
        error = "no firmware file given";
        return false;
    }
    return true;
}
