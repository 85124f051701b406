#pragma once
// The command line of trakbus-flash.

#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

// Exit statuses, as --help and the manual page give them. A second stop signal ends the
// program at once, by the signal (128 + its number: 129, 130, 143).
enum FlashExit {
    ExitDone = 0,
    ExitProgrammingFailed = 1, // also: stopped; nobody answered; identify not echoed
    ExitPortFailed = 2,
    ExitFileNotValid = 3,
    ExitUsage = 64,
};

enum class FlashMode { Download, Discover, Identify, ListPorts, AddPort, Help, Version };

struct FlashOptions {
    FlashMode mode = FlashMode::Download;
    std::vector<std::string> ports; // each "COMn", a device path or a URL, in the order given
    std::optional<int> rateIndex;   // index into kBitRates
    std::string file;               // the KFW file of a download
    std::optional<int> product;     // discover filter, or the identified device's product
    int waitMs = 1000;              // how long to collect discovery replies
    std::uint32_t serial = 0;       // the device to identify
    std::optional<int> waitPortSeconds;
    bool quiet = false;
    bool json = false;
    int verbose = 0;
    bool noStoredSettings = false;
    int addPortNumber = 0;  // --add-port: the COM number ...
    std::string addPortUrl; // ... and the URL its entry is to hold
};

// Fills `options` from the arguments. Returns false with `error` set on a usage error.
bool ParseFlashOptions(int argc, char** argv, FlashOptions& options, std::string& error);

// The bit-rate index of a text such as "16457", or nothing when it is not one of the loader's.
std::optional<int> ParseBitRate(const std::string& text);

void PrintFlashHelp(std::FILE* out);
