#include "tests/support/ser2net_server.h"

#include "serial/port_names.h"

#include <chrono>
#include <filesystem>
#include <fstream>
#include <netinet/in.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace {

constexpr int kStartTimeoutMs = 5000;

// A port that nothing on the loopback interface uses now.
std::uint16_t FreeLoopbackPort() {
    const int probe = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    std::uint16_t port = 0;
    if (bind(probe, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
        getsockname(probe, reinterpret_cast<sockaddr*>(&address), &length) == 0) {
        port = ntohs(address.sin_port);
    }
    close(probe);
    return port;
}

// Whether a socket listens on 127.0.0.1:port, read from the kernel's table, so that no
// connection is made (ser2net would open the device for it).
bool Listening(std::uint16_t port) {
    std::ifstream table("/proc/net/tcp");
    std::string line;
    char wanted[32];
    std::snprintf(wanted, sizeof wanted, "0100007F:%04X", port);
    while (std::getline(table, line)) {
        char local[64] = {};
        char remote[64] = {};
        unsigned state = 0;
        if (std::sscanf(line.c_str(), " %*d: %63s %63s %x", local, remote, &state) == 3 &&
            wanted == std::string(local) && state == 0x0A) {
            return true;
        }
    }
    return false;
}

} // namespace

Ser2netServer::Ser2netServer(const std::string& directory, const std::string& rfc2217Device,
                             const std::string& rawDevice)
    : m_directory(directory), m_config(directory + "/ser2net.yaml") {
    m_rfcPort = FreeLoopbackPort();
    do {
        m_rawPort = FreeLoopbackPort();
    } while (m_rawPort == m_rfcPort);
    std::ofstream config(m_config);
    const auto connection = [&](const char* name, const std::string& accepter,
                                const std::string& device) {
        config << "connection: &" << name << "\n"
               << "  accepter: " << accepter << "\n"
               << "  connector: serialdev," << device << ",115200n81,local\n"
               << "  options:\n"
               << "    kickolduser: true\n"
               // Without this ser2net holds back what the line brings for two characters' time.
               << "    chardelay: false\n"
               << "    mdns: false\n";
    };
    config << "%YAML 1.1\n---\n";
    connection("rfc2217", "telnet(rfc2217),tcp,127.0.0.1," + std::to_string(m_rfcPort),
               rfc2217Device);
    connection("raw", "tcp,127.0.0.1," + std::to_string(m_rawPort), rawDevice);
}

Ser2netServer::~Ser2netServer() {
    Stop();
}

std::string Ser2netServer::ProgramPath() {
    for (const char* path : {"/usr/sbin/ser2net", "/usr/bin/ser2net"}) {
        if (access(path, X_OK) == 0) {
            return path;
        }
    }
    return {};
}

bool Ser2netServer::Start(std::string& error) {
    const std::string program = ProgramPath();
    if (program.empty()) {
        error = "ser2net is not installed (scripts/setup installs it)";
        return false;
    }
    // -n: stays in the foreground as our child; -u: no UUCP lock on the test bus's line.
    if (!m_process.Start(program,
                         {"-n", "-u", "-c", m_config, "-P", m_directory + "/ser2net.pid"})) {
        error = "ser2net could not be started";
        return false;
    }
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(kStartTimeoutMs);
    while (!(Listening(m_rfcPort) && Listening(m_rawPort))) {
        if (!m_process.Running() || std::chrono::steady_clock::now() > deadline) {
            error = "ser2net did not listen on 127.0.0.1:" + std::to_string(m_rfcPort) + " and " +
                    std::to_string(m_rawPort);
            Stop();
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

void Ser2netServer::Stop() {
    if (!m_process.Running()) {
        return;
    }
    m_process.Terminate();
    m_process.WaitForFinished(5000);
}

bool WriteNetworkPortEntry(int number, const std::string& text) {
    const std::string directory = serial::PortDirectory();
    std::error_code ignored;
    std::filesystem::create_directories(directory, ignored);
    const std::string path = directory + "/COM" + std::to_string(number);
    std::filesystem::remove(path, ignored);
    std::ofstream entry(path);
    entry << text << "\n";
    return static_cast<bool>(entry.flush());
}
