// The Wireshark chain end to end with tshark: trakbus-cap2pcap, the dissector trakbus.lua and
// the live capture of trakbus-extcap from the test bus.
//
// Wireshark ignores WIRESHARK_EXTCAP_DIR for root, so as root tshark runs as nobody here.

#include "monitor/capture_reader.h"
#include "monitor/traffic/line_meaning.h"
#include "serial/serial.h"
#include "tests/support/child_process.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

struct TempDir {
    std::string path;
    TempDir() {
        std::string pattern = (fs::temp_directory_path() / "wstest-XXXXXX").string();
        if (mkdtemp(pattern.data()) != nullptr)
            path = pattern;
        chmod(path.c_str(), 0777); // tshark may run as nobody
    }
    ~TempDir() {
        std::error_code ignored;
        fs::remove_all(path, ignored);
    }
    std::string File(const std::string& name) const { return path + "/" + name; }
};

std::string Shell(const std::string& command, int* status = nullptr) {
    std::string out;
    if (FILE* pipe = popen(command.c_str(), "r")) {
        char buffer[4096];
        std::size_t n;
        while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0)
            out.append(buffer, n);
        const int rc = pclose(pipe);
        if (status != nullptr)
            *status = WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
    }
    return out;
}

bool HaveTshark() {
    return Shell("command -v tshark").find("tshark") != std::string::npos;
}

// tshark, as nobody when the test runs as root.
std::string Tshark(const std::string& arguments, const std::string& env = "") {
    const std::string user =
        geteuid() == 0 ? "setpriv --reuid=65534 --regid=65534 --clear-groups " : "";
    return Shell(env + " " + user + "tshark " + arguments + " 2>/dev/null");
}

// The fields of every packet: one vector of tab-separated values per line.
std::vector<std::vector<std::string>> Decode(const std::string& pcap, const std::string& fields) {
    std::string arguments = "-r " + pcap + " -X lua_script:" DISSECTOR_PATH " -T fields";
    std::istringstream names(fields);
    for (std::string name; names >> name;)
        arguments += " -e " + name;
    std::vector<std::vector<std::string>> rows;
    std::istringstream lines(Tshark(arguments));
    for (std::string line; std::getline(lines, line);) {
        std::vector<std::string> row;
        std::size_t start = 0;
        for (std::size_t tab; (tab = line.find('\t', start)) != std::string::npos; start = tab + 1)
            row.push_back(line.substr(start, tab - start));
        row.push_back(line.substr(start));
        rows.push_back(row);
    }
    return rows;
}

std::string InfoOf(const std::string& captureLine) {
    std::string meaning = LineMeaning(ParseCaptureLine(captureLine).line, nullptr);
    for (std::size_t nl; (nl = meaning.find('\n')) != std::string::npos;)
        meaning.replace(nl, 1, "; ");
    return meaning;
}

bool WaitFor(const std::function<bool()>& done, int timeoutMs) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!done()) {
        if (std::chrono::steady_clock::now() > end)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
}

} // namespace

TEST(Wireshark, CaptureFileDecodesToItsOpcodesChecksumStatesAndMeanings) {
    ASSERT_TRUE(HaveTshark()) << "tshark is missing: run scripts/setup";
    TempDir dir;
    const std::vector<std::string> lines = {
        "83 7C ",
        "#0002 = 12/6/2026 18:48:50.12 - 83 7D ",
        "E5 10 7F 7F 7F 40 00 10 00 00 10 00 00 00 00 35 ",
        "E5 14 0F 10 00 0C 00 01 11 04 09 34 12 01 00 00 00 00 00 27 ",
        "not a line of the monitor",
        "C6 01 02 ",
        "00 01 02 03 04 05 06 07 08 09 - 0A 0B 0C 0D 0E 0F 10 11 12 13 ",
    };
    {
        std::ofstream out(dir.File("in.cap"), std::ios::binary);
        for (const std::string& line : lines)
            out << line << "\r\n";
    }
    const std::string pcap = dir.File("out.pcap");
    int status = -1;
    const std::string report =
        Shell("TZ=UTC " CAP2PCAP_PATH " " + dir.File("in.cap") + " " + pcap + " 2>&1", &status);
    ASSERT_EQ(status, 0) << report;
    EXPECT_NE(report.find("6 packets"), std::string::npos) << report;
    EXPECT_NE(report.find("1 lines that are not bytes left out"), std::string::npos) << report;

    const auto rows = Decode(pcap, "frame.time_epoch trakbus.opcode trakbus.length "
                                   "trakbus.checksum trakbus.checksum.status trakbus.ipl.kind "
                                   "trakbus.device.serial trakbus.device.software _ws.col.Info");
    ASSERT_EQ(rows.size(), 6u);
    using Row = std::vector<std::string>;
    auto fields = [](const Row& row) { return Row(row.begin() + 1, row.end() - 1); };
    EXPECT_EQ(fields(rows[0]), (Row{"0x83", "2", "0x7c", "1", "", "", ""}));
    EXPECT_EQ(fields(rows[1]), (Row{"0x83", "2", "0x7d", "0", "", "", ""}));
    EXPECT_EQ(fields(rows[2]), (Row{"0xe5", "16", "0x35", "1", "0x10", "", ""}));
    EXPECT_EQ(fields(rows[3]), (Row{"0xe5", "20", "0x27", "1", "", "102964", "2.1"}));
    EXPECT_EQ(fields(rows[4]), (Row{"0xc6", "6", "", "3", "", "", ""})); // cut short
    EXPECT_EQ(fields(rows[5]), (Row{"", "", "", "3", "", "", ""}));      // raw bytes, no opcode
    // The time stamp where the line has one (the prefix is local time, UTC here).
    EXPECT_EQ(rows[0][0], "0.000000000");
    EXPECT_EQ(rows[1][0], "1796582930.120000000");
    // The info column reads as the monitor's tooltip.
    EXPECT_EQ(rows[0].back(), InfoOf(lines[0]));
    EXPECT_EQ(rows[1].back(), InfoOf(lines[1]) + "; Bad checksum");
    EXPECT_EQ(rows[2].back(), InfoOf(lines[2]));
    EXPECT_EQ(rows[3].back(), InfoOf(lines[3]));
}

TEST(Wireshark, ExtcapCapturesTheTestBusLiveAndLeavesAHeldPortAlone) {
    ASSERT_TRUE(HaveTshark()) << "tshark is missing: run scripts/setup";
    TempDir dir;
    const std::string config = dir.File("config");
    const std::string extcapDir = dir.File("extcap");
    fs::create_directories(extcapDir);
    fs::copy_file(EXTCAP_PATH, extcapDir + "/trakbus-extcap");
    // Numbered messages A0 hi lo checksum, which the test bus replays one every 5 ms.
    {
        std::ofstream out(dir.File("numbers.cap"), std::ios::binary);
        for (int i = 0; i < 2000; ++i) {
            const int hi = (i >> 7) & 0x7F;
            const int lo = i & 0x7F;
            char line[32];
            std::snprintf(line, sizeof line, "A0 %02X %02X %02X \r\n", hi, lo,
                          ~(0xA0 ^ hi ^ lo) & 0xFF);
            out << line;
        }
    }
    setenv("XDG_CONFIG_HOME", config.c_str(), 1);
    const std::string entry = config + "/Kestrom/ports/COM9";
    ChildProcess bus;
    ASSERT_TRUE(bus.Start(TRAKBUS_SIM_PATH, {"--com", "9", "--quiet", "--replay",
                                             dir.File("numbers.cap"), "--replay-gap", "5"}));
    ASSERT_TRUE(WaitFor([&] { return fs::exists(entry); }, 10000));
    const std::string slave = fs::read_symlink(entry).string();
    chmod(slave.c_str(), 0666);
    Shell("chmod -R a+rX " + config);

    const std::string env =
        "XDG_CONFIG_HOME=" + config + " HOME=" + dir.path + " WIRESHARK_EXTCAP_DIR=" + extcapDir;
    // Wireshark lists the port and captures from it for 2 s.
    EXPECT_NE(Tshark("-D", env).find("Trakbus on COM9"), std::string::npos);
    const std::string pcap = dir.File("live.pcap");
    Tshark("-i COM9 -a duration:2 -w " + pcap, env);
    const auto rows = Decode(pcap, "trakbus.opcode trakbus.checksum.status trakbus.data");
    // The number of a whole numbered message, or -1.
    auto number = [](const std::vector<std::string>& row) {
        if (row.size() != 3 || row[0] != "0xa0" || row[1] != "1" || row[2].size() != 5)
            return -1;
        return std::stoi(row[2].substr(0, 2), nullptr, 16) * 128 +
               std::stoi(row[2].substr(3, 2), nullptr, 16);
    };
    // Bytes that reach a freshly opened line before its set-up pass the terminal's cooked
    // mode, so the first few frames may be mangled; from there on every message must be
    // there, whole and in order.
    std::size_t first = rows.size();
    while (first > 0 && number(rows[first - 1]) >= 0 &&
           (first == rows.size() || number(rows[first - 1]) + 1 == number(rows[first])))
        --first;
    EXPECT_LE(first, 3u) << "a message lost, cut or out of order";
    EXPECT_GT(rows.size() - first, 50u);

    // A port another program holds is refused at once, before Wireshark's pipe is opened.
    CSerial holder;
    ASSERT_EQ(holder.Open("\\\\.\\COM9"), SerialOk);
    const std::string fifo = dir.File("fifo");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    int status = -1;
    const std::string refusal = Shell(
        std::string(EXTCAP_PATH) + " --capture --extcap-interface COM9 --fifo " + fifo + " 2>&1",
        &status);
    EXPECT_EQ(status, 1);
    EXPECT_NE(refusal.find("COM9: in use by another program"), std::string::npos) << refusal;
    EXPECT_GE(holder.GetBitRate(), 0); // still the holder's
}
