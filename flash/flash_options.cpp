#include "flash/flash_options.h"

#include "loader/kelvload_doc.h"
#include "serial/port_names.h"

#include <cerrno>
#include <cstdlib>
#include <functional>
#include <set>
#include <string_view>

namespace {

constexpr const char* kHelp =
    R"(Usage: trakbus-flash [OPTIONS] [--port COMn|PATH|URL]... [--] FILE.kfw
       trakbus-flash --discover [OPTIONS] [--product P] [--wait MS]
       trakbus-flash --identify SERIAL [OPTIONS] [--product P] [--wait MS]
       trakbus-flash --list-ports [--json]
       trakbus-flash --add-port COMn URL

Downloads a KFW firmware file over the Trakbus to a device in its boot loader, the way kelvload
does, or finds the devices on the bus.

  --port COMn|PATH|URL  the bus interface's port: a COM name, a device path, or a port on
                     the network, rfc2217://HOST:PORT or socket://HOST:PORT. Give it several
                     times to download the same file to each port at once
  --rate BITS        bit rate: 9600, 14400, 16457, 19200, 38400, 56000, 57600 or 115200
  --no-stored-settings  never take the port or bit rate from kelvload's settings
  --wait-port SECONDS   wait up to SECONDS for the port to appear and be free
  --quiet, -q        no progress and no port line on stderr; failures are still reported
  --verbose, -v      trace every message and echo with time stamps; twice (-vv): with their
                     bytes
  --json             results on stdout as JSON, one object per line
  --discover         send a discover request and print one line per device that answers:
                     product, serial number, software, hardware and IPL versions
  --product P        discover only devices of product code P; with --identify, the product
                     of the device to identify (else it is found by a discover request).
                     Decimal, or hexadecimal after 0x; a leading 0 is still decimal
  --wait MS          how long to wait for replies (default 1000)
  --identify SERIAL  ask the device with this serial number (hexadecimal) to identify itself
  --list-ports       list COM1 to COM44 that exist: device, by-id name, free or busy
  --add-port COMn URL  make COMn a port on the network for every program: writes the port
                     entry ~/.config/Kestrom/ports/COMn holding URL
  --help             this text
  --version          the program's version
  --                 ends the options: what follows is the file

The port comes from --port, else from the environment variable TRAKBUS_PORT, else from
kelvload's stored port; the bit rate from --rate, else TRAKBUS_RATE, else kelvload's stored
bit rate, else 16457. The first line on stderr says which were used and where they came from.

Progress goes to stderr: a bar with per cent, messages sent and time left on a terminal, else a
line at every 10 %. SIGINT (Ctrl+C), SIGTERM and SIGHUP stop a download after the record under
way and end it with the end message, as kelvload's stop does; a second signal ends the program
at once. Progress that cannot be written (a closed pipe) is dropped; the download goes on.

Exit status:
  0   done (with several ports: on every port)
  1   programming failed or was stopped; no device answered; identify request not echoed
  2   port failed: missing, busy, no permission, or lost during the run
  3   file not valid
  64  usage error; no port given
  129, 130, 143  ended at once by a second SIGHUP, SIGINT or SIGTERM
With several ports the status is the highest of theirs.
)";

bool ParseNumber(std::string_view text, int base, long long low, long long high, long long& value) {
    if (text.empty() || text[0] == '-' || text[0] == '+' || text[0] == ' ') {
        return false;
    }
    const std::string copy(text);
    char* end = nullptr;
    errno = 0;
    value = std::strtoll(copy.c_str(), &end, base);
    return errno == 0 && end != nullptr && *end == '\0' && value >= low && value <= high;
}

// A product code: decimal, or hexadecimal after "0x"; never octal.
bool ParseProduct(std::string_view text, long long& value) {
    if (text.starts_with("0x") || text.starts_with("0X")) {
        return text.size() > 2 && ParseNumber(text.substr(2), 16, 0, 255, value);
    }
    return ParseNumber(text, 10, 0, 255, value);
}

// The options in order, with the value of the one being read.
class ArgCursor {
public:
    ArgCursor(int argc, char** argv) : m_argc(argc), m_argv(argv) {}
    bool AtEnd() const { return m_index >= m_argc; }
    std::string_view Next() { return m_argv[m_index++]; }
    // The option's value: from "--name=value" or the next argument.
    std::optional<std::string_view> Value() {
        if (m_inline) {
            std::string_view value = *m_inline;
            m_inline.reset();
            return value;
        }
        if (AtEnd()) {
            return std::nullopt;
        }
        return Next();
    }
    std::optional<std::string_view> m_inline;

private:
    int m_argc;
    char** m_argv;
    int m_index = 1;
};

// One option: its names, whether it takes a value, the modes it applies to (empty: all), and
// what it does. A handler returns an error text, empty on success.
struct OptionSpec {
    std::vector<std::string_view> names;
    bool takesValue;
    std::set<FlashMode> modes;
    std::function<std::string(std::string_view value, FlashOptions&)> apply;
};

const std::set<FlashMode> kLinkModes = {FlashMode::Download, FlashMode::Discover,
                                        FlashMode::Identify};
const std::set<FlashMode> kDeviceModes = {FlashMode::Discover, FlashMode::Identify};

std::string ModeName(FlashMode mode) {
    switch (mode) {
    case FlashMode::Discover:
        return "--discover";
    case FlashMode::Identify:
        return "--identify";
    case FlashMode::ListPorts:
        return "--list-ports";
    case FlashMode::AddPort:
        return "--add-port";
    default:
        return "a download";
    }
}

const std::vector<OptionSpec>& Options() {
    static const std::vector<OptionSpec> options = {
        {{"--port"},
         true,
         kLinkModes,
         [](std::string_view value, FlashOptions& o) -> std::string {
             if (value.empty()) {
                 return "--port needs a COM name, a path or a URL";
             }
             o.ports.emplace_back(value);
             return {};
         }},
        {{"--rate"},
         true,
         kLinkModes,
         [](std::string_view value, FlashOptions& o) -> std::string {
             o.rateIndex = ParseBitRate(std::string(value));
             return o.rateIndex
                        ? ""
                        : "--rate " + std::string(value) + " is not one of the loader's bit rates";
         }},
        {{"--no-stored-settings"},
         false,
         kLinkModes,
         [](std::string_view, FlashOptions& o) {
             o.noStoredSettings = true;
             return std::string();
         }},
        {{"--wait-port"},
         true,
         kLinkModes,
         [](std::string_view value, FlashOptions& o) -> std::string {
             long long seconds = 0;
             if (!ParseNumber(value, 10, 0, 86400, seconds)) {
                 return "--wait-port needs seconds from 0 to 86400";
             }
             o.waitPortSeconds = static_cast<int>(seconds);
             return {};
         }},
        {{"--quiet", "-q"},
         false,
         kLinkModes,
         [](std::string_view, FlashOptions& o) {
             o.quiet = true;
             return std::string();
         }},
        {{"--verbose", "-v"},
         false,
         kLinkModes,
         [](std::string_view, FlashOptions& o) {
             ++o.verbose;
             return std::string();
         }},
        {{"--json"},
         false,
         {},
         [](std::string_view, FlashOptions& o) {
             o.json = true;
             return std::string();
         }},
        {{"--discover"},
         false,
         {},
         [](std::string_view, FlashOptions& o) {
             o.mode = FlashMode::Discover;
             return std::string();
         }},
        {{"--identify"},
         true,
         {},
         [](std::string_view value, FlashOptions& o) -> std::string {
             long long number = 0;
             if (!ParseNumber(value, 16, 0, 0xFFFFFF, number)) {
                 return "--identify needs a serial number of up to six hexadecimal digits";
             }
             o.mode = FlashMode::Identify;
             o.serial = static_cast<std::uint32_t>(number);
             return {};
         }},
        {{"--list-ports"},
         false,
         {},
         [](std::string_view, FlashOptions& o) {
             o.mode = FlashMode::ListPorts;
             return std::string();
         }},
        {{"--add-port"},
         true,
         {},
         [](std::string_view value, FlashOptions& o) -> std::string {
             o.addPortNumber = serial::ComPortNumber(value);
             if (o.addPortNumber == 0) {
                 return "--add-port needs a COM name such as COM9, then the URL";
             }
             o.mode = FlashMode::AddPort;
             return {};
         }},
        {{"--product"},
         true,
         kDeviceModes,
         [](std::string_view value, FlashOptions& o) -> std::string {
             long long number = 0;
             if (!ParseProduct(value, number)) {
                 return "--product needs a product code from 0 to 255 (decimal, or 0x and hex)";
             }
             o.product = static_cast<int>(number);
             return {};
         }},
        {{"--wait"},
         true,
         kDeviceModes,
         [](std::string_view value, FlashOptions& o) -> std::string {
             long long number = 0;
             if (!ParseNumber(value, 10, 0, 600000, number)) {
                 return "--wait needs milliseconds from 0 to 600000";
             }
             o.waitMs = static_cast<int>(number);
             return {};
         }},
    };
    return options;
}

const OptionSpec* FindOption(std::string_view name) {
    for (const OptionSpec& spec : Options()) {
        for (std::string_view candidate : spec.names) {
            if (candidate == name) {
                return &spec;
            }
        }
    }
    return nullptr;
}

} // namespace

std::optional<int> ParseBitRate(const std::string& text) {
    long long number = 0;
    if (ParseNumber(text, 10, 1, 10000000, number)) {
        for (int index = 0; index < kBitRateCount; ++index) {
            if (kBitRates[index] == number) {
                return index;
            }
        }
    }
    return std::nullopt;
}

void PrintFlashHelp(std::FILE* out) {
    std::fputs(kHelp, out);
}

bool ParseFlashOptions(int argc, char** argv, FlashOptions& options, std::string& error) {
    ArgCursor args(argc, argv);
    std::vector<std::pair<std::string_view, const OptionSpec*>> given;
    std::vector<std::string_view> operands;
    int modeOptions = 0;
    bool optionsEnded = false;
    while (!args.AtEnd()) {
        const std::string_view arg = args.Next();
        if (optionsEnded || arg == "-" || !arg.starts_with("-")) {
            operands.push_back(arg);
            continue;
        }
        if (arg == "--") {
            optionsEnded = true;
            continue;
        }
        if (arg == "--help" || arg == "-h") {
            options.mode = FlashMode::Help;
            return true;
        }
        if (arg == "--version") {
            options.mode = FlashMode::Version;
            return true;
        }
        // "-vv" is -v twice.
        if (arg.size() > 2 && arg.find_first_not_of('v', 1) == arg.npos) {
            options.verbose += static_cast<int>(arg.size() - 1);
            given.emplace_back("-v", FindOption("-v"));
            continue;
        }
        std::string_view name = arg;
        args.m_inline.reset();
        if (const auto equals = arg.find('='); arg.starts_with("--") && equals != arg.npos) {
            name = arg.substr(0, equals);
            args.m_inline = arg.substr(equals + 1);
        }
        const OptionSpec* spec = FindOption(name);
        if (spec == nullptr) {
            error = "unknown option " + std::string(arg);
            return false;
        }
        if (!spec->takesValue && args.m_inline) {
            error = std::string(name) + " takes no value";
            return false;
        }
        std::string_view value;
        if (spec->takesValue) {
            const std::optional<std::string_view> next = args.Value();
            if (!next) {
                error = std::string(name) + " needs a value";
                return false;
            }
            value = *next;
        }
        const FlashMode before = options.mode;
        error = spec->apply(value, options);
        if (!error.empty()) {
            return false;
        }
        if (options.mode != before || name == "--discover" || name == "--identify" ||
            name == "--list-ports" || name == "--add-port") {
            ++modeOptions;
        }
        given.emplace_back(name, spec);
    }
    if (modeOptions > 1) {
        error = "--discover, --identify, --list-ports and --add-port do not go together";
        return false;
    }
    for (const auto& [name, spec] : given) {
        if (!spec->modes.empty() && !spec->modes.contains(options.mode)) {
            error = std::string(name) + " does not apply to " + ModeName(options.mode);
            return false;
        }
    }
    if (options.mode == FlashMode::AddPort) {
        if (operands.size() != 1) {
            error = "--add-port needs a COM name and one URL";
            return false;
        }
        options.addPortUrl = std::string(operands[0]);
        if (!serial::ParsePortUrl(options.addPortUrl)) {
            error = options.addPortUrl + " is not rfc2217://HOST:PORT or socket://HOST:PORT";
            return false;
        }
        return true;
    }
    if (options.mode != FlashMode::Download) {
        if (!operands.empty()) {
            error = "a firmware file does not go with " + ModeName(options.mode);
            return false;
        }
        if (options.ports.size() > 1) {
            error = "only a download goes to several ports";
            return false;
        }
        return true;
    }
    if (operands.empty()) {
        error = "no firmware file given";
        return false;
    }
    if (operands.size() > 1) {
        error = "only one firmware file can be downloaded at a time";
        return false;
    }
    if (operands[0] == "-") {
        error = "the firmware cannot come from standard input: give the file's name";
        return false;
    }
    for (std::size_t i = 0; i < options.ports.size(); ++i) {
        for (std::size_t j = 0; j < i; ++j) {
            if (options.ports[i] == options.ports[j]) {
                error = "port " + options.ports[i] + " is given twice";
                return false;
            }
        }
    }
    options.file = std::string(operands[0]);
    return true;
}
