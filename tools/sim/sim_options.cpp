#include "tools/sim/sim_options.h"

#include "tools/sim/traffic.h"

#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <sys/stat.h>

namespace {

const char kHelp[] = R"(usage: trakbus-sim [options]

A Trakbus interface with devices behind it, on a pseudo-terminal. It prints the path of the
program's side of the line as the first line on stdout; open that path (or the COMn given with
--com) in kelvload or kelvmon. It runs until SIGINT or SIGTERM (or --end-after), then prints a
report of any download still under way. SIGUSR1 sends one ping reply. The log goes to stderr,
one line per event.

Port:
  --com N               also make the port COMn: an entry in the per-user port directory
                        ($XDG_CONFIG_HOME/Kestrom/ports/COMn), removed again at the end
  --force               replace a COMn entry that points elsewhere
  --end-after MS        end by itself after MS milliseconds
  --hangup-after MS     hang the line up MS after the program first opens it, as a pulled
                        adapter does: the program's side sees a hang-up, and the path and the
                        COMn entry lead nowhere
  --return-after MS     MS after the hang-up, make COMn point at a fresh line, as a replugged
                        adapter does (needs --com and --hangup-after); the bus then works as
                        before and hangs up no more

Bus interface (echo of every complete, valid message the program writes):
  --no-wire-time        echo at once; by default the echo goes out when the message has
                        been on the line for its time at the program's bit rate
  --wire-queue          take the program's bytes no faster than the line carries them, so
                        that its writes wait in the pseudo-terminal as in an adapter's queue
                        and a long write fills it (the echo still follows each message)
  --echo-delay MS       delay every echo by MS more
  --drop-first K        drop the first K echoes
  --drop-every N        drop every N-th echo
  --no-echo             never echo
  --corrupt-echo N      corrupt one byte of the N-th echo (its checksum fails)
A message whose echo is dropped or corrupted did not reach the devices.

Devices:
  --device SPEC         add a device; SPEC is key=value pairs separated by commas:
                          product=P (required), product2=P, hw=H, sw=S, boot=B (bytes),
                          serial=N (24 bits), serial2=N (32 bits)
                        e.g. --device product=12,sw=0x11,hw=1,boot=0x09,serial=0x019234
  --devices FILE        add the devices of FILE, one SPEC per line, '#' starts a comment
  --ping-once MS        send a ping reply MS after the program opens the port
  --ping-every MS       send a ping reply every MS
  --rssi L,R            local and remote signal strength of ping replies (default 0x50,0x38)
Devices answer a discover request for product 0 or their own product, after the echo, with a
device reply each. An identify request is logged with the device it names.

Boot loader (takes IplSetup, IplAddress, IplData and IplEnd messages):
  --image-out FILE      write the rebuilt image after every download
  --image-format F      bin (default) or kfw; gaps are filled with FF
  --expect FILE         check each download against the KFW file FILE: message order,
                        payloads, image, and every pause of the file's timing scheme; with
                        it, the image written is cut to the file's records
  --busy-after-setup MS no echo for MS after the first IplSetup of a download
At the end of each download a report goes to stdout: messages, duration, wire time, the
shortest slack of each kind of pause, and every violation with its message index (0 is the
first IplSetup).

Traffic for the monitor:
  --traffic PCT         messages of all four length classes at PCT % of the line (0-100)
  --bad-checksum PCT    share of generated messages with a wrong checksum
  --noise PCT           share of generated messages preceded by 1-4 random bytes
  --burst N,MS          N messages back to back every MS
  --seed N              seed of the made-up traffic (default 1)
  --replay FILE         send the lines of a capture file (hex bytes, with or without the
                        "#nnnn = date time - " prefix), one line after another
  --replay-gap MS       pause between replayed lines (default 10)

Output:
  --quiet               no log on stderr
  --verbose             also log every message received and every write
  --help                this text

Numbers are decimal or 0x hexadecimal. Exit status: 0; 1 when --expect was given and a
download did not match (or none happened); 2 for a bad option or file.
)";

bool ParseNumber(std::string_view text, long long low, long long high, long long& value) {
    const std::string s(text);
    if (s.empty())
        return false;
    char* end = nullptr;
    errno = 0;
    value = std::strtoll(s.c_str(), &end, 0);
    return errno == 0 && *end == '\0' && value >= low && value <= high;
}

std::string_view Trim(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t'))
        s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r'))
        s.remove_suffix(1);
    return s;
}

bool ReadWholeFile(const std::string& path, std::string& text, std::string& error) {
    // A directory opens like a file but reads as nothing; only a regular file will do.
    struct stat info {};
    std::ifstream in;
    if (stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode))
        in.open(path, std::ios::binary);
    std::ostringstream buffer;
    if (in)
        buffer << in.rdbuf();
    if (!in.is_open() || in.bad()) {
        error = "cannot read " + path;
        return false;
    }
    text = buffer.str();
    return true;
}

} // namespace

void PrintHelp(std::FILE* out) {
    std::fputs(kHelp, out);
}

bool ParseDeviceSpec(std::string_view text, DeviceInfo& device, std::string& error) {
    device = DeviceInfo{};
    bool hasProduct = false;
    while (!text.empty()) {
        const std::size_t comma = text.find(',');
        const std::string_view pair = Trim(text.substr(0, comma));
        text = comma == std::string_view::npos ? std::string_view() : text.substr(comma + 1);
        const std::size_t equals = pair.find('=');
        const std::string_view key = Trim(pair.substr(0, equals));
        const std::string_view value =
            equals == std::string_view::npos ? std::string_view() : Trim(pair.substr(equals + 1));
        struct Field {
            const char* name;
            long long max;
            std::uint8_t* byte;
            std::uint32_t* word;
        };
        const Field fields[] = {
            {"product", 0xFF, &device.product, nullptr},
            {"product2", 0xFF, &device.product2, nullptr},
            {"hw", 0xFF, &device.hardware, nullptr},
            {"sw", 0xFF, &device.software, nullptr},
            {"boot", 0xFF, &device.bootloader, nullptr},
            {"serial", 0xFFFFFF, nullptr, &device.serial},
            {"serial2", 0xFFFFFFFF, nullptr, &device.serial2},
        };
        const Field* field = nullptr;
        for (const Field& f : fields)
            if (key == f.name)
                field = &f;
        long long number = 0;
        if (!field) {
            error = "unknown device field \"" + std::string(key) + "\"";
            return false;
        }
        if (!ParseNumber(value, 0, field->max, number)) {
            error = "bad value for device field " + std::string(key);
            return false;
        }
        if (field->byte)
            *field->byte = static_cast<std::uint8_t>(number);
        else
            *field->word = static_cast<std::uint32_t>(number);
        hasProduct = hasProduct || field->byte == &device.product;
    }
    if (!hasProduct) {
        error = "a device needs product=";
        return false;
    }
    return true;
}

bool LoadDeviceFile(const std::string& path, std::vector<DeviceInfo>& devices, std::string& error) {
    std::string text;
    if (!ReadWholeFile(path, text, error))
        return false;
    std::istringstream in(text);
    std::string line;
    for (int number = 1; std::getline(in, line); ++number) {
        const std::string_view spec = Trim(std::string_view(line).substr(0, line.find('#')));
        if (spec.empty())
            continue;
        DeviceInfo device;
        if (!ParseDeviceSpec(spec, device, error)) {
            error = path + ":" + std::to_string(number) + ": " + error;
            return false;
        }
        devices.push_back(device);
    }
    return true;
}

bool LoadExpectedFirmware(const std::string& path, ExpectedFirmware& firmware, std::string& error) {
    std::string info;
    std::vector<std::uint8_t> image(kfw::kImageBufferSize);
    int length = 0;
    const kfw::FirmwareSink sink{firmware.header, info, image.data(), length};
    if (kfw::LoadFirmwareFile(path, sink) != 0 || length == 0) {
        error = path + " is not a readable, valid KFW file";
        return false;
    }
    image.resize(static_cast<std::size_t>(length));
    firmware.path = path;
    firmware.image = std::move(image);
    return true;
}

ParseResult ParseOptions(int argc, char** argv, SimConfig& config, RunOptions& run,
                         std::string& error) {
    for (int i = 1; i < argc; ++i) {
        std::string name = argv[i];
        std::string value;
        bool hasValue = false;
        if (const std::size_t equals = name.find('=');
            name.starts_with("--") && equals != std::string::npos) {
            value = name.substr(equals + 1);
            name.resize(equals);
            hasValue = true;
        }
        // Takes the option's value from "--name=value" or the next argument.
        auto next = [&]() -> bool {
            if (hasValue)
                return true;
            if (i + 1 >= argc) {
                error = name + " needs a value";
                return false;
            }
            value = argv[++i];
            return true;
        };
        auto number = [&](long long low, long long high, long long& out) {
            if (!next())
                return false;
            if (!ParseNumber(value, low, high, out)) {
                error = "bad value for " + name + ": \"" + value + "\"";
                return false;
            }
            return true;
        };
        auto ms = [&](Nanos& out) {
            long long v = 0;
            if (!number(0, 100'000'000, v))
                return false;
            out = Ms(v);
            return true;
        };
        auto count = [&](int& out) {
            long long v = 0;
            if (!number(0, 1'000'000'000, v))
                return false;
            out = static_cast<int>(v);
            return true;
        };
        auto percent = [&](double& out) {
            long long v = 0;
            if (!number(0, 100, v))
                return false;
            out = static_cast<double>(v);
            return true;
        };
        auto pair = [&](long long high, long long& a, long long& b) {
            if (!next())
                return false;
            const std::size_t comma = value.find(',');
            if (comma == std::string::npos || !ParseNumber(value.substr(0, comma), 0, high, a) ||
                !ParseNumber(value.substr(comma + 1), 0, high, b)) {
                error = "bad value for " + name + ": \"" + value + "\"";
                return false;
            }
            return true;
        };
        auto flag = [&](bool& out) {
            if (hasValue) {
                error = name + " takes no value";
                return false;
            }
            out = true;
            return true;
        };

        bool ok = true;
        long long a = 0, b = 0;
        if (name == "--help" || name == "-h") {
            return ParseResult::Help;
        } else if (name == "--com") {
            ok = number(1, 9999, a);
            run.com = static_cast<int>(a);
        } else if (name == "--force") {
            ok = flag(run.force);
        } else if (name == "--end-after") {
            ok = ms(run.endAfter);
        } else if (name == "--hangup-after") {
            ok = ms(run.hangupAfter);
        } else if (name == "--return-after") {
            ok = ms(run.returnAfter);
        } else if (name == "--no-wire-time") {
            bool off = false;
            ok = flag(off);
            config.wireTime = !off;
        } else if (name == "--wire-queue") {
            ok = flag(config.wireQueue);
        } else if (name == "--echo-delay") {
            ok = ms(config.faults.delay);
        } else if (name == "--drop-first") {
            ok = count(config.faults.dropFirst);
        } else if (name == "--drop-every") {
            ok = number(1, 1'000'000'000, a);
            config.faults.dropEvery = static_cast<int>(a);
        } else if (name == "--no-echo") {
            ok = flag(config.faults.none);
        } else if (name == "--corrupt-echo") {
            ok = number(1, 1'000'000'000, a);
            config.faults.corruptNth = static_cast<int>(a);
        } else if (name == "--busy-after-setup") {
            ok = ms(config.faults.busyAfterSetup);
        } else if (name == "--device") {
            DeviceInfo device;
            ok = next() && ParseDeviceSpec(value, device, error);
            config.devices.push_back(device);
        } else if (name == "--devices") {
            ok = next() && LoadDeviceFile(value, config.devices, error);
        } else if (name == "--ping-once") {
            ok = ms(config.ping.once);
        } else if (name == "--ping-every") {
            ok = number(1, 100'000'000, a);
            config.ping.every = Ms(a);
        } else if (name == "--rssi") {
            ok = pair(0xFF, a, b);
            config.ping.localRssi = static_cast<std::uint8_t>(a);
            config.ping.remoteRssi = static_cast<std::uint8_t>(b);
        } else if (name == "--image-out") {
            ok = next();
            config.imageOut = value;
        } else if (name == "--image-format") {
            ok = next();
            if (ok && value == "kfw") {
                config.imageFormat = ImageFormat::Kfw;
            } else if (ok && value == "bin") {
                config.imageFormat = ImageFormat::Binary;
            } else if (ok) {
                error = "--image-format is bin or kfw";
                ok = false;
            }
        } else if (name == "--expect") {
            ExpectedFirmware firmware;
            ok = next() && LoadExpectedFirmware(value, firmware, error);
            config.expect = std::move(firmware);
        } else if (name == "--traffic") {
            ok = percent(config.traffic.loadPercent);
        } else if (name == "--bad-checksum") {
            ok = percent(config.traffic.badPercent);
        } else if (name == "--noise") {
            ok = percent(config.traffic.noisePercent);
        } else if (name == "--burst") {
            ok = pair(100'000'000, a, b) && a > 0 && b > 0;
            if (!ok && error.empty())
                error = "--burst needs N,MS above 0";
            config.traffic.burstCount = static_cast<int>(a);
            config.traffic.burstEvery = Ms(b);
        } else if (name == "--seed") {
            ok = number(0, 0xFFFFFFFF, a);
            config.traffic.seed = static_cast<std::uint32_t>(a);
        } else if (name == "--replay") {
            std::string text;
            ok = next() && ReadWholeFile(value, text, error) &&
                 ParseCaptureText(text, config.traffic.replayLines, error);
            if (!ok && error.starts_with("line "))
                error = value + ": " + error;
        } else if (name == "--replay-gap") {
            ok = ms(config.traffic.replayGap);
        } else if (name == "--quiet") {
            ok = flag(run.quiet);
        } else if (name == "--verbose") {
            ok = flag(config.verbose);
        } else {
            error = "unknown option \"" + std::string(argv[i]) + "\"";
            ok = false;
        }
        if (!ok)
            return ParseResult::Error;
    }
    if (run.returnAfter >= 0 && (run.hangupAfter < 0 || run.com == 0)) {
        error = "--return-after needs --hangup-after and --com";
        return ParseResult::Error;
    }
    return ParseResult::Run;
}
