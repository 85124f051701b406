#pragma once
// The command line of trakbus-flash.

#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>

// Exit statuses, as --help and the user guide give them.
enum FlashExit {
    ExitDone = 0,
    ExitProgrammingFailed = 1,
    ExitPortFailed = 2,
    ExitFileNotValid = 3,
    ExitUsage = 64,
};

enum class FlashMode { Download, Discover, Identify, Help, Version };

struct FlashOptions {
    FlashMode mode = FlashMode::Download;
    std::optional<std::string> port; // "COMn" or a device path; else the stored port
    std::optional<int> rateIndex;    // index into kBitRates; else the stored rate
    std::string file;                // the KFW file of a download
    int product = 0;                 // discover filter, or the identified device's product
    bool productGiven = false;
    int waitMs = 1000;        // how long to collect discovery replies
    std::uint32_t serial = 0; // the device to identify
    bool quiet = false;
};

// Fills `options` from the arguments. Returns false with `error` set on a usage error.
bool ParseFlashOptions(int argc, char** argv, FlashOptions& options, std::string& error);

void PrintFlashHelp(std::FILE* out);
