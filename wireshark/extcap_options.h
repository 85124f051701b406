#pragma once
// The command line of trakbus-extcap: the calls Wireshark makes to an extcap program.

#include <cstdio>
#include <string>

enum class ExtcapMode { Help, Version, Interfaces, Dlts, Config, Capture };

struct ExtcapOptions {
    ExtcapMode mode = ExtcapMode::Help;
    std::string interface; // "COMn"
    std::string fifo;      // where the pcap stream goes
    int bitRate = 16457;
};

// False with `error` set on a command line that makes no sense. Options Wireshark may add
// that the program has no use for (capture filter, debug, control pipes) are accepted.
bool ParseExtcapOptions(int argc, char** argv, ExtcapOptions& options, std::string& error);

void PrintExtcapHelp(std::FILE* out);
// The answers to --extcap-interfaces, --extcap-dlts and --extcap-config.
void PrintExtcapInterfaces(std::FILE* out);
void PrintExtcapDlts(std::FILE* out);
void PrintExtcapConfig(std::FILE* out);
