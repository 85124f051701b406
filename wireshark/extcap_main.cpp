// trakbus-extcap: live capture of the bus for Wireshark (see --help).

#include "wireshark/extcap_capture.h"

#include <cstdio>

int main(int argc, char** argv) {
    ExtcapOptions options;
    std::string error;
    if (!ParseExtcapOptions(argc, argv, options, error)) {
        std::fprintf(stderr, "trakbus-extcap: %s\nTry 'trakbus-extcap --help'.\n", error.c_str());
        return ExtcapUsage;
    }
    switch (options.mode) {
    case ExtcapMode::Help:
        PrintExtcapHelp(stdout);
        return ExtcapDone;
    case ExtcapMode::Version:
        std::printf("trakbus-extcap %s\n", KESTROM_VERSION);
        return ExtcapDone;
    case ExtcapMode::Interfaces:
        PrintExtcapInterfaces(stdout);
        return ExtcapDone;
    case ExtcapMode::Dlts:
        PrintExtcapDlts(stdout);
        return ExtcapDone;
    case ExtcapMode::Config:
        PrintExtcapConfig(stdout);
        return ExtcapDone;
    case ExtcapMode::Capture:
        break;
    }
    return RunExtcapCapture(options);
}
