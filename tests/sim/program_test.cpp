// The trakbus-sim program as a user runs it: --help, bad options, the COMn entry and its removal
// on a signal, and the bus over the port that the entry names.

#include "loader/kfw_writer.h"
#include "serial/port_names.h"
#include "tests/sim/pty_sim.h"

#include <csignal>
#include <fstream>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>

extern char** environ;

using namespace simtest;

namespace {

// A running trakbus-sim with its stdout and stderr on pipes.
class SimProcess {
public:
    explicit SimProcess(const std::vector<std::string>& args) {
        int out[2], err[2];
        if (pipe2(out, O_CLOEXEC) != 0 || pipe2(err, O_CLOEXEC) != 0)
            return;
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, out[1], 1);
        posix_spawn_file_actions_adddup2(&actions, err[1], 2);
        std::vector<std::string> all = {TRAKBUS_SIM_PATH};
        all.insert(all.end(), args.begin(), args.end());
        std::vector<char*> argv;
        for (std::string& a : all)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        if (posix_spawn(&m_pid, TRAKBUS_SIM_PATH, &actions, nullptr, argv.data(), environ) != 0)
            m_pid = -1;
        posix_spawn_file_actions_destroy(&actions);
        close(out[1]);
        close(err[1]);
        m_out = out[0];
        m_err = err[0];
    }
    ~SimProcess() {
        if (m_pid > 0 && !m_exited) {
            kill(m_pid, SIGKILL);
            waitpid(m_pid, nullptr, 0);
        }
        close(m_out);
        close(m_err);
    }
    SimProcess(const SimProcess&) = delete;
    SimProcess& operator=(const SimProcess&) = delete;

    bool Started() const { return m_pid > 0; }

    // The first line on stdout: the path of the program's side.
    std::string FirstLine(int timeoutMs) {
        std::string line;
        const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        while (std::chrono::steady_clock::now() < end) {
            pollfd p{m_out, POLLIN, 0};
            if (poll(&p, 1, 50) <= 0)
                continue;
            char c = 0;
            if (read(m_out, &c, 1) != 1)
                break;
            if (c == '\n')
                return line;
            line += c;
        }
        return line;
    }

    void Signal(int signal) const { kill(m_pid, signal); }

    // Waits for the end; returns the exit status, or -1 when it did not end normally in time.
    int Wait(int timeoutMs = 10000) {
        const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        int status = 0;
        while (waitpid(m_pid, &status, WNOHANG) == 0) {
            if (std::chrono::steady_clock::now() > end)
                return -1;
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        m_exited = true;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

    // Everything left on stdout or stderr (after the end).
    std::string RestOfOut() const { return ReadAll(m_out); }
    std::string Err() const { return ReadAll(m_err); }

private:
    static std::string ReadAll(int fd) {
        std::string text;
        char buffer[4096];
        for (;;) {
            pollfd p{fd, POLLIN, 0};
            if (poll(&p, 1, 1000) <= 0)
                break;
            const ssize_t n = read(fd, buffer, sizeof buffer);
            if (n <= 0)
                break;
            text.append(buffer, static_cast<std::size_t>(n));
        }
        return text;
    }

    pid_t m_pid = -1;
    bool m_exited = false;
    int m_out = -1;
    int m_err = -1;
};

class ProgramTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(m_dir.Valid());
        m_dir.UseAsConfigHome();
    }
    std::string Entry(int n) const { return m_dir.File("Kestrom/ports/COM" + std::to_string(n)); }
    static std::string LinkOf(const std::string& path) {
        char buffer[4096];
        const ssize_t n = readlink(path.c_str(), buffer, sizeof buffer);
        return n < 0 ? std::string() : std::string(buffer, static_cast<std::size_t>(n));
    }
    static bool Exists(const std::string& path) {
        struct stat info {};
        return lstat(path.c_str(), &info) == 0;
    }

    TempDir m_dir;
};

} // namespace

TEST_F(ProgramTest, HelpAndBadOptions) {
    SimProcess help({"--help"});
    ASSERT_TRUE(help.Started());
    EXPECT_EQ(help.Wait(), 0);
    const std::string text = help.RestOfOut();
    EXPECT_EQ(text.rfind("usage: trakbus-sim [options]", 0), 0u);
    for (const char* option : {"--com N",
                               "--force",
                               "--no-wire-time",
                               "--wire-queue",
                               "--echo-delay MS",
                               "--drop-first K",
                               "--drop-every N",
                               "--no-echo",
                               "--corrupt-echo N",
                               "--device SPEC",
                               "--devices FILE",
                               "--ping-every MS",
                               "--expect FILE",
                               "--image-out FILE",
                               "--busy-after-setup MS",
                               "--traffic PCT",
                               "--bad-checksum PCT",
                               "--noise PCT",
                               "--burst N,MS",
                               "--replay FILE",
                               "--quiet",
                               "--hangup-after MS",
                               "--return-after MS"})
        EXPECT_NE(text.find(option), std::string::npos) << option;

    for (const std::vector<std::string>& args : {std::vector<std::string>{"--frobnicate"},
                                                 {"--com", "x"},
                                                 {"--devices", "/nonexistent"},
                                                 {"--expect", m_dir.Path()},
                                                 {"--replay", m_dir.Path()},
                                                 {"--return-after", "10", "--com", "4"},
                                                 {"--hangup-after", "1", "--return-after", "1"}}) {
        SimProcess bad(args);
        ASSERT_TRUE(bad.Started());
        EXPECT_EQ(bad.Wait(), 2) << args[0];
        EXPECT_TRUE(bad.RestOfOut().empty()) << "no port was made";
        const std::string err = bad.Err();
        EXPECT_EQ(err.rfind("trakbus-sim: ", 0), 0u) << err;
        EXPECT_NE(err.find("(see --help)"), std::string::npos) << err;
    }
    EXPECT_FALSE(Exists(m_dir.File("Kestrom")));
}

TEST_F(ProgramTest, ComEntryLivesAsLongAsTheProgram) {
    for (int signal : {SIGTERM, SIGINT}) {
        SimProcess sim({"--com", "5"});
        ASSERT_TRUE(sim.Started());
        const std::string path = sim.FirstLine(5000);
        ASSERT_EQ(path.rfind("/dev/pts/", 0), 0u) << path;
        EXPECT_EQ(LinkOf(Entry(5)), path);
        const auto resolved = serial::ResolvePortName("\\\\.\\COM5");
        ASSERT_TRUE(resolved.has_value());
        EXPECT_EQ(std::filesystem::canonical(*resolved).string(), path);
        sim.Signal(signal);
        EXPECT_EQ(sim.Wait(), 0);
        EXPECT_FALSE(Exists(Entry(5))) << "removed on signal " << signal;
        EXPECT_NE(sim.Err().find(signal == SIGTERM ? "ending on SIGTERM" : "ending on SIGINT"),
                  std::string::npos);
    }

    SimProcess timed({"--com", "12", "--end-after", "100", "--quiet"});
    ASSERT_TRUE(timed.Started());
    EXPECT_FALSE(timed.FirstLine(5000).empty());
    EXPECT_EQ(timed.Wait(), 0);
    EXPECT_FALSE(Exists(Entry(12))) << "removed at a normal end";
    EXPECT_TRUE(timed.Err().empty()) << "--quiet";
}

TEST_F(ProgramTest, AnEntryThatPointsElsewhereIsKeptUnlessForced) {
    ASSERT_EQ(mkdir(m_dir.File("Kestrom").c_str(), 0700), 0);
    ASSERT_EQ(mkdir(m_dir.File("Kestrom/ports").c_str(), 0700), 0);
    ASSERT_EQ(symlink("/dev/ttyUSB3", Entry(6).c_str()), 0);
    {
        SimProcess refused({"--com", "6"});
        ASSERT_TRUE(refused.Started());
        EXPECT_EQ(refused.Wait(), 2);
        EXPECT_NE(refused.Err().find("points to /dev/ttyUSB3; use --force"), std::string::npos);
        EXPECT_EQ(LinkOf(Entry(6)), "/dev/ttyUSB3");
    }
    {
        std::ofstream(Entry(7)) << "not a link\n";
        SimProcess refused({"--com", "7"});
        ASSERT_TRUE(refused.Started());
        EXPECT_EQ(refused.Wait(), 2);
        EXPECT_NE(refused.Err().find("already exists"), std::string::npos);
    }
    SimProcess forced({"--com", "6", "--force"});
    ASSERT_TRUE(forced.Started());
    const std::string path = forced.FirstLine(5000);
    EXPECT_EQ(LinkOf(Entry(6)), path);
    forced.Signal(SIGTERM);
    EXPECT_EQ(forced.Wait(), 0);
    EXPECT_FALSE(Exists(Entry(6)));
}

TEST_F(ProgramTest, TheBusAnswersThroughTheComPort) {
    SimProcess sim({"--com", "8", "--device", "product=12,sw=0x11,hw=1,boot=9,serial=0x019234"});
    ASSERT_TRUE(sim.Started());
    ASSERT_FALSE(sim.FirstLine(5000).empty());
    const auto path = serial::ResolvePortName("COM8");
    ASSERT_TRUE(path.has_value());
    {
        ProgramSide program(*path, 16457);
        const Bytes identify = Hex("E5 14 0F 08 00 0C 00 01 00 04 00 34 12 01 00 00 00 00 00 27");
        program.Write(identify);
        EXPECT_EQ(program.Read(20, 5000), identify);
        program.Write(Hex("E5 14 0F 08 00 00 00 00 00 00 00 01 00 00 00 00 00 00 00 08"));
        const Bytes answer = program.Read(40, 5000);
        ASSERT_EQ(answer.size(), 40u);
        EXPECT_EQ(Bytes(answer.begin() + 20, answer.end()),
                  Hex("E5 14 0F 10 00 0C 00 01 11 04 09 34 12 01 00 00 00 00 00 27"));
        // SIGUSR1 asks for one ping reply.
        sim.Signal(SIGUSR1);
        const Bytes ping = program.Read(20, 5000);
        ASSERT_EQ(ping.size(), 20u);
        EXPECT_EQ(ping[2], kPingGroup);
    }
    sim.Signal(SIGTERM);
    EXPECT_EQ(sim.Wait(), 0);
    const std::string log = sim.Err();
    EXPECT_NE(log.find("identify: product 12 serial 019234: device 1 identifies itself"),
              std::string::npos)
        << log;
    EXPECT_NE(log.find("discover (product filter 0): 1 replies"), std::string::npos);
    EXPECT_NE(log.find("ping reply"), std::string::npos);
}

TEST_F(ProgramTest, ExpectingADownloadThatNeverCameEndsWithStatus1) {
    const std::string kfwPath = m_dir.File("image.kfw");
    kfw::FirmwareHeader header;
    header.product = 12;
    ASSERT_TRUE(kfw::WriteFirmwareFile(kfwPath, header, Bytes(32, 0x5A)));
    SimProcess sim({"--expect", kfwPath, "--end-after", "50"});
    ASSERT_TRUE(sim.Started());
    EXPECT_FALSE(sim.FirstLine(5000).empty());
    EXPECT_EQ(sim.Wait(), 1);

    SimProcess plain({"--end-after", "50"});
    ASSERT_TRUE(plain.Started());
    EXPECT_EQ(plain.Wait(), 0);
}

// A pulled adapter: the open line hangs up, and the replugged one is a fresh line behind the
// same COMn that works as before.
TEST_F(ProgramTest, APulledLineHangsUpAndComesBackAsTheSameComPort) {
    SimProcess sim({"--com", "9", "--hangup-after", "150", "--return-after", "300"});
    ASSERT_TRUE(sim.Started());
    const std::string first = sim.FirstLine(5000);
    ASSERT_FALSE(first.empty());
    const Bytes discover = Hex("E5 14 0F 08 00 00 00 00 00 00 00 01 00 00 00 00 00 00 00 08");
    ProgramSide pulled(*serial::ResolvePortName("COM9"), 16457);
    pulled.Write(discover);
    EXPECT_EQ(pulled.Read(20, 5000), discover) << "the line works until the pull";
    // The hang-up: poll reports it and a read ends at once instead of waiting.
    pollfd p{pulled.Fd(), POLLIN, 0};
    ASSERT_EQ(poll(&p, 1, 5000), 1);
    EXPECT_NE(p.revents & POLLHUP, 0);
    std::uint8_t byte = 0;
    errno = 0;
    EXPECT_LE(read(pulled.Fd(), &byte, 1), 0);
    EXPECT_NE(errno, EAGAIN);
    // The return: COM9 names a fresh line (the old one is still held here, so it is another).
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (LinkOf(Entry(9)) == first && std::chrono::steady_clock::now() < end)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    pulled.Close();
    const std::string second = LinkOf(Entry(9));
    ASSERT_EQ(second.rfind("/dev/pts/", 0), 0u) << second;
    ASSERT_NE(second, first);
    {
        ProgramSide program(*serial::ResolvePortName("COM9"), 16457);
        program.Write(discover);
        EXPECT_EQ(program.Read(20, 5000), discover);
        // It hangs up once only.
        pollfd p{program.Fd(), POLLIN, 0};
        EXPECT_EQ(poll(&p, 1, 400), 0);
    }
    sim.Signal(SIGTERM);
    EXPECT_EQ(sim.Wait(), 0);
    EXPECT_FALSE(Exists(Entry(9)));
    const std::string log = sim.Err();
    EXPECT_NE(log.find("line hung up"), std::string::npos) << log;
    EXPECT_NE(log.find("line back"), std::string::npos) << log;
}
