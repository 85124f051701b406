#pragma once
// Debian's ser2net on the loopback interface in front of test bus pseudo-terminals, with a
// private configuration: an RFC 2217 port and a raw TCP port, each with a line of its own (ser2net
// turns a connection away while another holds its device). The tests start and stop it
// themselves; it may be stopped and started again on the same ports.

#include "tests/support/child_process.h"

#include <cstdint>
#include <string>

class Ser2netServer {
public:
    // Writes the configuration into `directory`; takes two free loopback ports.
    Ser2netServer(const std::string& directory, const std::string& rfc2217Device,
                  const std::string& rawDevice);
    ~Ser2netServer();
    Ser2netServer(const Ser2netServer&) = delete;
    Ser2netServer& operator=(const Ser2netServer&) = delete;

    // The installed program, or empty when ser2net is not installed.
    static std::string ProgramPath();

    // Starts it and waits until both ports listen; false (with `error`) when it did not.
    bool Start(std::string& error);
    // Ends it (SIGTERM) and waits until it has gone; its connections close with it.
    void Stop();

    std::string Rfc2217Url() const { return "rfc2217://127.0.0.1:" + std::to_string(m_rfcPort); }
    std::string RawUrl() const { return "socket://127.0.0.1:" + std::to_string(m_rawPort); }

private:
    std::string m_directory;
    std::string m_config;
    std::uint16_t m_rfcPort = 0;
    std::uint16_t m_rawPort = 0;
    ChildProcess m_process;
};

// Makes the port entry COM<number> in the private configuration directory, whatever it was, a
// file holding `text` (a URL, or anything else a test wants to try).
bool WriteNetworkPortEntry(int number, const std::string& text);
