#pragma once
// Everything the test bus can be told to do, as the options parser fills it in.

#include "busproto/messages.h"
#include "loader/kfw_file.h"
#include "tools/sim/sim_time.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// Faults of the bus interface's echo. Echoes are counted from 1 over every complete, valid
// message that the program writes.
struct EchoFaults {
    Nanos delay = 0;          // extra time before every echo
    int dropFirst = 0;        // drop echoes 1..dropFirst
    int dropEvery = 0;        // drop every echo whose number is a multiple of this
    bool none = false;        // never echo
    int corruptNth = 0;       // corrupt one byte of this echo
    Nanos busyAfterSetup = 0; // no echo for this long after a download's first IplSetup
};

struct PingConfig {
    Nanos once = -1; // one ping reply this long after the port opens
    Nanos every = 0; // periodic ping replies
    std::uint8_t localRssi = 0x50;
    std::uint8_t remoteRssi = 0x38;
};

struct TrafficConfig {
    double loadPercent = 0;  // share of the line's time that generated messages take
    double badPercent = 0;   // share of generated messages with a wrong checksum
    double noisePercent = 0; // share of generated messages preceded by noise bytes
    int burstCount = 0;      // messages sent back to back ...
    Nanos burstEvery = 0;    // ... this often
    std::uint32_t seed = 1;
    std::vector<std::vector<std::uint8_t>> replayLines; // capture file lines to send
    Nanos replayGap = Ms(10);                           // pause between replayed lines
};

// A KFW file that a download is checked against.
struct ExpectedFirmware {
    std::string path;
    kfw::FirmwareHeader header;
    std::vector<std::uint8_t> image; // the records as the loader stores them
};

enum class ImageFormat { Binary, Kfw };

struct SimConfig {
    bool wireTime = true; // echo after the message's time on the line at the program's rate
    // Take the program's bytes no faster than the line carries them, so that what it writes
    // waits in the pseudo-terminal as in an adapter's queue.
    bool wireQueue = false;
    EchoFaults faults;
    std::vector<DeviceInfo> devices;
    PingConfig ping;
    TrafficConfig traffic;
    std::optional<ExpectedFirmware> expect;
    std::string imageOut;
    ImageFormat imageFormat = ImageFormat::Binary;
    bool verbose = false; // one log line per message as well
};
