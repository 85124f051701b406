#include "wireshark/extcap_options.h"

#include "monitor/monitor_settings.h"
#include "monitor/pcap_writer.h"
#include "serial/port_names.h"

#include <cstring>
#include <sys/stat.h>

namespace {

constexpr int kMonitorPorts = 19; // COM1 to COM19, as kelvmon's port set-up lists them

bool ValidRate(int rate) {
    for (int r : kMonitorBitRates)
        if (r == rate)
            return true;
    return false;
}

} // namespace

bool ParseExtcapOptions(int argc, char** argv, ExtcapOptions& options, std::string& error) {
    bool modeSet = false;
    auto setMode = [&](ExtcapMode mode) {
        // --capture comes with the interface; the queries come alone.
        if (!modeSet || mode == ExtcapMode::Capture)
            options.mode = mode;
        modeSet = true;
    };
    for (int i = 1; i < argc; ++i) {
        std::string name = argv[i];
        std::string value;
        bool hasValue = false;
        if (const std::size_t eq = name.find('='); eq != std::string::npos) {
            value = name.substr(eq + 1);
            name.resize(eq);
            hasValue = true;
        }
        auto takeValue = [&]() -> bool {
            if (hasValue)
                return true;
            if (i + 1 >= argc) {
                error = name + " needs a value";
                return false;
            }
            value = argv[++i];
            return true;
        };
        if (name == "--help" || name == "-h") {
            options.mode = ExtcapMode::Help;
            return true;
        } else if (name == "--version") {
            setMode(ExtcapMode::Version);
        } else if (name == "--extcap-interfaces") {
            setMode(ExtcapMode::Interfaces);
        } else if (name == "--extcap-dlts") {
            setMode(ExtcapMode::Dlts);
        } else if (name == "--extcap-config") {
            setMode(ExtcapMode::Config);
        } else if (name == "--capture") {
            setMode(ExtcapMode::Capture);
        } else if (name == "--extcap-interface") {
            if (!takeValue())
                return false;
            options.interface = value;
        } else if (name == "--fifo") {
            if (!takeValue())
                return false;
            options.fifo = value;
        } else if (name == "--baud") {
            if (!takeValue())
                return false;
            char* end = nullptr;
            const long rate = std::strtol(value.c_str(), &end, 10);
            if (end == value.c_str() || *end != '\0' || !ValidRate(static_cast<int>(rate))) {
                error = "not a bit rate of the monitor: " + value;
                return false;
            }
            options.bitRate = static_cast<int>(rate);
        } else if (name == "--extcap-version" || name == "--debug") {
            // --extcap-version may stand alone or carry Wireshark's version.
        } else if (name == "--extcap-capture-filter" || name == "--debug-file" ||
                   name == "--extcap-control-in" || name == "--extcap-control-out") {
            if (!takeValue())
                return false;
        } else {
            error = "unknown option " + name;
            return false;
        }
    }
    if (!modeSet)
        options.mode = ExtcapMode::Help;
    if (options.mode == ExtcapMode::Capture &&
        (serial::ComPortNumber(options.interface) == 0 || options.fifo.empty())) {
        error = "--capture needs --extcap-interface COMn and --fifo PATH";
        return false;
    }
    return true;
}

void PrintExtcapHelp(std::FILE* out) {
    std::fputs("Usage: trakbus-extcap --extcap-interfaces\n"
               "       trakbus-extcap --extcap-interface COMn --extcap-dlts | --extcap-config\n"
               "       trakbus-extcap --capture --extcap-interface COMn --fifo PATH [--baud RATE]\n"
               "Captures the Trakbus on a serial port for Wireshark, which calls it as an extcap\n"
               "program. The port is only read, and never taken from a program that holds it.\n",
               out);
}

void PrintExtcapInterfaces(std::FILE* out) {
    std::fprintf(out, "extcap {version=%s}{help=Trakbus capture from a bus interface}\n",
                 KESTROM_VERSION);
    for (int n = 1; n <= kMonitorPorts; ++n) {
        const std::string name = "COM" + std::to_string(n);
        const std::optional<std::string> path = serial::ResolvePortName(name);
        struct stat st {};
        if (!path || stat(path->c_str(), &st) != 0)
            continue; // no such device now
        std::fprintf(out, "interface {value=%s}{display=Trakbus on %s (%s)}\n", name.c_str(),
                     name.c_str(), path->c_str());
    }
}

void PrintExtcapDlts(std::FILE* out) {
    std::fprintf(out, "dlt {number=%u}{name=USER0}{display=Trakbus}\n",
                 CPcapWriter::kLinkTypeUser0);
}

void PrintExtcapConfig(std::FILE* out) {
    std::fputs("arg {number=0}{call=--baud}{display=Bit rate}{tooltip=Bit rate of the bus, in "
               "bit/s}{type=selector}\n",
               out);
    for (int i = 0; i < kBitRateCount; ++i)
        std::fprintf(out, "value {arg=0}{value=%d}{display=%d}{default=%s}\n", kMonitorBitRates[i],
                     kMonitorBitRates[i], i == kDefaultBitRateIndex ? "true" : "false");
}
