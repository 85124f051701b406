// Ports on the network, opened as COM names whose entries hold a URL: through Debian's ser2net
// in front of a pseudo-terminal line, and against scripted servers that misbehave.

#include "serial/port_info.h"
#include "tests/serial/event_test_support.h"
#include "tests/support/ser2net_server.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

using namespace serialtest;

namespace {

constexpr int kComPort = 31;
constexpr char kComName[] = "\\\\.\\COM31";
// Connecting and negotiating take at most 2 s each; anything beyond this is a hang.
constexpr std::uint32_t kBoundMs = 6000;

using Bytes = std::vector<std::uint8_t>;

// Every byte value, each followed by 0xFF (the Telnet IAC), so that escaping shows.
Bytes AllValuesWithIac() {
    Bytes bytes;
    for (int i = 0; i < 256; ++i) {
        bytes.push_back(static_cast<std::uint8_t>(i));
        bytes.push_back(0xFF);
    }
    return bytes;
}

// A TCP server on the loopback interface that plays a script on one connection: it sends its
// greeting, then, once the client's line-format request has come, its answer (unless that is
// empty), then stays silent or hangs up.
class ScriptedServer {
public:
    ScriptedServer(Bytes greeting, Bytes answer, bool hangUp)
        : m_greeting(std::move(greeting)), m_answer(std::move(answer)), m_hangUp(hangUp) {
        m_listener = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        EXPECT_EQ(bind(m_listener, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
        EXPECT_EQ(listen(m_listener, 1), 0);
        getsockname(m_listener, reinterpret_cast<sockaddr*>(&address), &length);
        m_port = ntohs(address.sin_port);
        EXPECT_EQ(pipe2(m_stop, O_CLOEXEC), 0);
        m_thread = std::thread([this] { Serve(); });
    }
    ~ScriptedServer() {
        const char byte = 1;
        EXPECT_EQ(write(m_stop[1], &byte, 1), 1);
        m_thread.join();
        for (int fd : {m_listener, m_stop[0], m_stop[1]})
            close(fd);
    }
    std::string Url() const { return "rfc2217://127.0.0.1:" + std::to_string(m_port); }

private:
    // Reads what comes until `until` holds, the client goes or the test ends.
    template <typename Until> bool ReadFrom(int peer, Bytes& seen, Until until) {
        while (!until()) {
            pollfd fds[2] = {{peer, POLLIN, 0}, {m_stop[0], POLLIN, 0}};
            if (poll(fds, 2, -1) < 0 || fds[1].revents != 0)
                return false;
            std::uint8_t chunk[512];
            const ssize_t got = read(peer, chunk, sizeof chunk);
            if (got <= 0)
                return false;
            seen.insert(seen.end(), chunk, chunk + got);
        }
        return true;
    }

    void Serve() {
        pollfd wait[2] = {{m_listener, POLLIN, 0}, {m_stop[0], POLLIN, 0}};
        if (poll(wait, 2, -1) < 0 || wait[1].revents != 0)
            return;
        const int peer = accept4(m_listener, nullptr, nullptr, SOCK_CLOEXEC);
        Send(peer, m_greeting);
        Bytes seen;
        const Bytes request = {255, 250, 44, 1}; // IAC SB COM-PORT-OPTION SET-BAUDRATE
        bool ready = true;
        if (!m_answer.empty()) {
            ready = ReadFrom(peer, seen, [&] {
                return std::search(seen.begin(), seen.end(), request.begin(), request.end()) !=
                       seen.end();
            });
            if (ready)
                Send(peer, m_answer);
        }
        if (ready && !m_hangUp)
            ReadFrom(peer, seen, [] { return false; });
        close(peer);
    }

    static void Send(int peer, const Bytes& bytes) {
        if (!bytes.empty()) {
            EXPECT_EQ(write(peer, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
        }
    }

    Bytes m_greeting;
    Bytes m_answer;
    bool m_hangUp;
    int m_listener = -1;
    std::uint16_t m_port = 0;
    int m_stop[2] = {-1, -1};
    std::thread m_thread;
};

// A server's agreement to the COM-PORT-OPTION and binary transmission.
const Bytes kAgreement = {255, 253, 44, 255, 251, 0, 255, 253, 0};

// The answers of a server that takes the rate, 8N1, no flow control.
Bytes Answers(std::uint32_t answeredRate = 16457) {
    Bytes bytes;
    const auto answer = [&](std::uint8_t command, Bytes value) {
        bytes.insert(bytes.end(), {255, 250, 44, command});
        bytes.insert(bytes.end(), value.begin(), value.end());
        bytes.insert(bytes.end(), {255, 240});
    };
    answer(101,
           {static_cast<std::uint8_t>(answeredRate >> 24),
            static_cast<std::uint8_t>(answeredRate >> 16),
            static_cast<std::uint8_t>(answeredRate >> 8), static_cast<std::uint8_t>(answeredRate)});
    answer(102, {8}); // data size
    answer(103, {1}); // no parity
    answer(104, {1}); // one stop bit
    answer(105, {1}); // no flow control
    return bytes;
}

// Waits until the server has opened its end of the line: until then the master reports a
// hang-up, and bytes sent either way may be lost.
bool ServerHoldsLine(const PtyPair& far) {
    const auto start = std::chrono::steady_clock::now();
    while (MillisecondsSince(start) < static_cast<std::int64_t>(kBoundMs)) {
        pollfd p{far.Master(), POLLIN, 0};
        if (poll(&p, 1, 0) >= 0 && (p.revents & POLLHUP) == 0)
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return false;
}

class NetworkPortTest : public SerialTest {
protected:
    void UseUrl(const std::string& url) { ASSERT_TRUE(WriteNetworkPortEntry(kComPort, url)); }

    // Opens the port as the programs do: 16457 bit/s, 8N1, no flow control.
    void OpenLikeThePrograms(CSerial& port) {
        ASSERT_EQ(port.Open(kComName, 0, 0, true), SerialOk) << port.GetLastOpenReason();
        ASSERT_EQ(port.SetLineFormat(16457, 8, ParityNone, StopBitsOne), SerialOk);
        ASSERT_EQ(port.SetFlowControl(FlowNone), SerialOk);
    }
};

} // namespace

TEST_F(NetworkPortTest, AnEntryWithAUrlIsPresentAndNamesItsUrl) {
    UseUrl("  rfc2217://127.0.0.1:1\r\n");
    EXPECT_EQ(CSerial::ProbePort(kComName), PortAvailable); // nothing listens: no connection
    EXPECT_EQ(serial::DescribePort(kComName).device, "rfc2217://127.0.0.1:1");
    UseUrl("ftp://127.0.0.1:1");
    EXPECT_NE(CSerial::ProbePort(kComName), PortAvailable);
}

// Every byte value both ways, at the rate the server's line really took, through ser2net's
// RFC 2217 port; and the same bytes through its raw TCP port, whose line settings are its own.
TEST_F(NetworkPortTest, EveryByteValuePassesThroughSer2net) {
    PtyPair rawLine;
    Ser2netServer server(configHome, line.Path(), rawLine.Path());
    std::string error;
    ASSERT_TRUE(server.Start(error)) << error;
    const Bytes bytes = AllValuesWithIac();
    for (const bool rfc2217 : {true, false}) {
        const std::string url = rfc2217 ? server.Rfc2217Url() : server.RawUrl();
        PtyPair& far = rfc2217 ? line : rawLine;
        SCOPED_TRACE(url);
        UseUrl(url);
        CSerial port;
        OpenLikeThePrograms(port);
        ASSERT_TRUE(ServerHoldsLine(far));
        std::uint32_t written = 0;
        ASSERT_EQ(port.Write(bytes.data(), bytes.size(), &written, nullptr, kBoundMs), SerialOk);
        EXPECT_EQ(written, bytes.size());
        EXPECT_EQ(far.Receive(bytes.size(), 2000), bytes);
        if (rfc2217) {
            EXPECT_EQ(port.GetBitRate(), 16457); // as the server answered
            EXPECT_EQ(ReadPeerView(far.Master()).bitRate, 16457u);
        }
        far.Send(bytes);
        Bytes got(bytes.size());
        std::uint32_t read = 0;
        ASSERT_EQ(port.SetReadMode(ReadBlocking), SerialOk);
        ASSERT_EQ(port.Read(got.data(), got.size(), &read, nullptr, kBoundMs), SerialOk);
        EXPECT_EQ(read, bytes.size());
        EXPECT_EQ(got, bytes);
        EXPECT_EQ(port.Close(), SerialOk);
    }
}

// A server that refuses the connection, one that never answers the negotiation, one that sends
// garbage Telnet, one that refuses the option, one that sets another rate than asked and one
// that hangs up: each ends as a port
// whose device has gone, a pending write and the event thread's wait with it, within the
// connection's and negotiation's time-outs; none of them holds up Open or Close.
TEST_F(NetworkPortTest, ServerFaultsEndAsALostPort) {
    struct Case {
        const char* name;
        Bytes greeting;
        Bytes answer;
        bool hangUp;
    };
    const std::vector<Case> cases = {
        {"refused", {}, {}, true},
        {"silent", {}, {}, false},
        {"garbage", {'x', 255, 17}, {}, false},
        {"refuses the option", {255, 254, 44}, {}, false},
        {"another rate", kAgreement, Answers(9600), false},
        {"hangs up after agreeing", kAgreement, Answers(), true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::string url;
        std::unique_ptr<ScriptedServer> server;
        if (std::string(c.name) == "refused") {
            ScriptedServer gone({}, {}, true);
            url = gone.Url(); // closed again at the end of this block: nothing listens there
        } else {
            server = std::make_unique<ScriptedServer>(c.greeting, c.answer, c.hangUp);
            url = server->Url();
        }
        UseUrl(url);
        RecordingPort port;
        // A fault may come so soon that it is seen here already; either way the port is lost.
        port.Open(kComName, 0, 0, true);
        port.SetLineFormat(16457, 8, ParityNone, StopBitsOne);
        EXPECT_TRUE(port.IsOpen());
        if (c.hangUp) { // a write might still go out before the hang-up is seen
            EXPECT_TRUE(RunUntil([&] { return port.GetBitRate() < 0; }, kBoundMs));
        }
        const std::uint8_t message[16] = {0x81};
        EXPECT_EQ(port.Write(message, sizeof message, nullptr, nullptr, kBoundMs),
                  SerialErrnoBase | EIO);
        EXPECT_LT(port.GetBitRate(), 0);
        EXPECT_EQ(port.GetLastError(), SerialErrnoBase | EIO);
        EXPECT_EQ(port.Close(), SerialOk);
    }
}

// A server that agrees and then reports a framing error and a break: they come as the event
// thread's line errors, as a UART's would.
TEST_F(NetworkPortTest, LineStateNotificationsAreLineErrors) {
    Bytes answer = Answers();
    const Bytes notify = {255, 250, 44, 106, 0x18, 255, 240};
    answer.insert(answer.end(), notify.begin(), notify.end());
    ScriptedServer server(kAgreement, answer, false);
    UseUrl(server.Url());
    RecordingPort port;
    OpenLikeThePrograms(port); // the mask at open takes receive, break and line-error events
    ASSERT_TRUE(RunUntil([&] { return port.DeliveryCount() > 0; }, kBoundMs));
    const Delivery first = port.Deliveries()[0];
    EXPECT_EQ(first.events, EvError | EvBreak);
    EXPECT_EQ(first.errors, LineErrFrame | LineErrBreak);
    EXPECT_EQ(port.GetBitRate(), 16457);
}
