// trakbus-flash: the firmware loader from the command line (see --help).

#include "flash/flash_commands.h"
#include "flash/flash_options.h"

#include <QCoreApplication>

#include <cstdio>
#include <string>

int main(int argc, char** argv) {
    FlashOptions options;
    std::string error;
    if (!ParseFlashOptions(argc, argv, options, error)) {
        std::fprintf(stderr, "trakbus-flash: %s\nTry 'trakbus-flash --help'.\n", error.c_str());
        return ExitUsage;
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
    QCoreApplication app(argc, argv);
    QCoreApplication::setOrganizationName(QStringLiteral("Kestrom"));
    QCoreApplication::setApplicationName(QStringLiteral("trakbus-flash"));
    switch (options.mode) {
    case FlashMode::Discover:
        return RunDiscover(options);
    case FlashMode::Identify:
        return RunIdentify(options);
    default:
        return RunDownload(options);
    }
}
