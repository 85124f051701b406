#pragma once
// Command line of trakbus-sim.

#include "tools/sim/sim_config.h"

#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

struct RunOptions {
    int com = 0;            // also make the port COMn
    bool force = false;     // replace a COMn entry that points elsewhere
    bool quiet = false;     // no log on stderr
    Nanos endAfter = -1;    // end by itself after this long
    Nanos hangupAfter = -1; // hang the line up this long after the program opens it
    Nanos returnAfter = -1; // and bring COMn back on a fresh line this long after that
};

enum class ParseResult { Run, Help, Error };

// Parses the options, reading the files they name. On Error, `error` says what is wrong.
ParseResult ParseOptions(int argc, char** argv, SimConfig& config, RunOptions& run,
                         std::string& error);

void PrintHelp(std::FILE* out);

// "product=12,serial=0x019234,sw=0x11,..." (see --help).
bool ParseDeviceSpec(std::string_view text, DeviceInfo& device, std::string& error);

// One device spec per line; blank lines and text after '#' are ignored.
bool LoadDeviceFile(const std::string& path, std::vector<DeviceInfo>& devices, std::string& error);

bool LoadExpectedFirmware(const std::string& path, ExpectedFirmware& firmware, std::string& error);
