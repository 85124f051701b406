// trakbus-flash: the firmware loader from the command line (see --help).

#include "flash/flash_commands.h"
#include "flash/flash_options.h"
#include "flash/flash_output.h"
#include "flash/flash_signals.h"

#include <QCoreApplication>

#include <cstdio>
#include <string>

namespace {

int Usage(const std::string& error) {
    std::fprintf(stderr, "trakbus-flash: %s\nTry 'trakbus-flash --help'.\n", error.c_str());
    return ExitUsage;
}

} // namespace

int main(int argc, char** argv) {
    IgnoreBrokenPipes();
    FlashOptions options;
    std::string error;
    if (!ParseFlashOptions(argc, argv, options, error)) {
        return Usage(error);
    }
    switch (options.mode) {
    case FlashMode::Help:
        PrintFlashHelp(stdout);
        return ExitDone;
    case FlashMode::Version:
        std::printf("trakbus-flash %s\n", KESTROM_VERSION);
        return ExitDone;
    default:
        break;
    }
    CatchStopSignals();
    QCoreApplication app(argc, argv);
    QCoreApplication::setOrganizationName(QStringLiteral("Kestrom"));
    QCoreApplication::setApplicationName(QStringLiteral("trakbus-flash"));
    if (options.mode == FlashMode::ListPorts) {
        return RunListPorts(options);
    }
    if (options.mode == FlashMode::AddPort) {
        return RunAddPort(options);
    }
    std::vector<PortChoice> ports;
    RateChoice rate;
    if (!ChoosePorts(options, ports, rate, error)) {
        return Usage(error);
    }
    if (!options.quiet) {
        for (const PortChoice& port : ports) {
            Say(DescribeChoice(port, rate));
        }
    }
    if (options.waitPortSeconds) {
        if (const int status = WaitForPorts(ports, *options.waitPortSeconds); status != ExitDone) {
            return status;
        }
    }
    switch (options.mode) {
    case FlashMode::Discover:
        return RunDiscover(options, ports[0], rate);
    case FlashMode::Identify:
        return RunIdentify(options, ports[0], rate);
    default:
        return RunDownload(options, ports, rate);
    }
}
