// trakbus-cap2pcap: a capture file of the bus monitor as a pcap file for Wireshark.

#include "monitor/pcap_export.h"

#include <cstdio>
#include <cstring>

namespace {

constexpr const char* kUsage = "Usage: trakbus-cap2pcap IN.cap OUT.pcap\n"
                               "Writes one packet per message of the capture file IN.cap, with\n"
                               "the time stamps it has, to OUT.pcap (link type USER0, 147), for\n"
                               "Wireshark with the Trakbus dissector trakbus.lua.\n";

} // namespace

int main(int argc, char** argv) {
    if (argc == 2 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)) {
        std::fputs(kUsage, stdout);
        return 0;
    }
    if (argc == 2 && std::strcmp(argv[1], "--version") == 0) {
        std::printf("trakbus-cap2pcap %s\n", KESTROM_VERSION);
        return 0;
    }
    if (argc != 3) {
        std::fputs(kUsage, stderr);
        return 2;
    }
    const CaptureConversion result =
        ConvertCaptureToPcap(QString::fromLocal8Bit(argv[1]), QString::fromLocal8Bit(argv[2]));
    if (!result.error.isEmpty()) {
        std::fprintf(stderr, "trakbus-cap2pcap: %s\n", result.error.toLocal8Bit().constData());
        return 1;
    }
    std::fprintf(stderr, "trakbus-cap2pcap: %lld lines, %lld packets", (long long)result.lines,
                 (long long)result.packets);
    if (result.damaged > 0)
        std::fprintf(stderr, ", %lld damaged lines written as they are", (long long)result.damaged);
    if (result.foreign > 0)
        std::fprintf(stderr, ", %lld lines that are not bytes left out", (long long)result.foreign);
    std::fputs("\n", stderr);
    return 0;
}
