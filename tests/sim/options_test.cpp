// The command line of trakbus-sim: what each option sets, and a clear error for every bad one.

#include "loader/kfw_writer.h"
#include "tests/sim/sim_test_support.h"
#include "tools/sim/sim_options.h"

#include <fstream>
#include <sstream>

using namespace simtest;

namespace {

struct Parsed {
    ParseResult result;
    SimConfig config;
    RunOptions run;
    std::string error;
};

Parsed Parse(std::vector<std::string> args) {
    args.insert(args.begin(), "trakbus-sim");
    std::vector<char*> argv;
    for (std::string& a : args)
        argv.push_back(a.data());
    Parsed p;
    p.result = ParseOptions(static_cast<int>(argv.size()), argv.data(), p.config, p.run, p.error);
    return p;
}

std::vector<std::string> Words(const std::string& text) {
    std::istringstream in(text);
    std::vector<std::string> words;
    for (std::string word; in >> word;)
        words.push_back(word);
    return words;
}

void WriteText(const std::string& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
}

} // namespace

TEST(Options, EveryOptionSetsWhatItNames) {
    const Parsed p =
        Parse(Words("--com 7 --force --end-after=1500 --no-wire-time --wire-queue --echo-delay 20 "
                    "--drop-first 2 "
                    "--drop-every 5 --corrupt-echo 0x10 --busy-after-setup 400 "
                    "--device product=12,sw=0x11,hw=1,boot=9,serial=0x019234 "
                    "--device=product=92,product2=0x18,serial2=0xFFFFFFFF --ping-once 50 "
                    "--ping-every 1000 --rssi 0x9A,5 --image-out /tmp/x.bin --image-format kfw "
                    "--traffic 100 --bad-checksum 10 --noise 3 --burst 4,250 --seed 99 "
                    "--replay-gap 0 --quiet --verbose"));
    ASSERT_EQ(p.result, ParseResult::Run) << p.error;
    EXPECT_EQ(p.run.com, 7);
    EXPECT_TRUE(p.run.force);
    EXPECT_EQ(p.run.endAfter, Ms(1500));
    EXPECT_TRUE(p.run.quiet);
    const SimConfig& c = p.config;
    EXPECT_FALSE(c.wireTime);
    EXPECT_TRUE(c.wireQueue);
    EXPECT_EQ(c.faults.delay, Ms(20));
    EXPECT_EQ(c.faults.dropFirst, 2);
    EXPECT_EQ(c.faults.dropEvery, 5);
    EXPECT_EQ(c.faults.corruptNth, 16);
    EXPECT_EQ(c.faults.busyAfterSetup, Ms(400));
    EXPECT_FALSE(c.faults.none);
    ASSERT_EQ(c.devices.size(), 2u);
    EXPECT_EQ(c.devices[0].product, 12);
    EXPECT_EQ(c.devices[0].software, 0x11);
    EXPECT_EQ(c.devices[0].hardware, 1);
    EXPECT_EQ(c.devices[0].bootloader, 9);
    EXPECT_EQ(c.devices[0].serial, 0x019234u);
    EXPECT_EQ(c.devices[1].product2, 0x18);
    EXPECT_EQ(c.devices[1].serial2, 0xFFFFFFFFu);
    EXPECT_EQ(c.ping.once, Ms(50));
    EXPECT_EQ(c.ping.every, Ms(1000));
    EXPECT_EQ(c.ping.localRssi, 0x9A);
    EXPECT_EQ(c.ping.remoteRssi, 5);
    EXPECT_EQ(c.imageOut, "/tmp/x.bin");
    EXPECT_EQ(c.imageFormat, ImageFormat::Kfw);
    EXPECT_EQ(c.traffic.loadPercent, 100);
    EXPECT_EQ(c.traffic.badPercent, 10);
    EXPECT_EQ(c.traffic.noisePercent, 3);
    EXPECT_EQ(c.traffic.burstCount, 4);
    EXPECT_EQ(c.traffic.burstEvery, Ms(250));
    EXPECT_EQ(c.traffic.seed, 99u);
    EXPECT_EQ(c.traffic.replayGap, 0);
    EXPECT_TRUE(c.verbose);

    EXPECT_EQ(Parse({"--no-echo"}).config.faults.none, true);
    EXPECT_EQ(Parse({"--help"}).result, ParseResult::Help);
    EXPECT_EQ(Parse({"--bogus", "--help"}).result, ParseResult::Error);
    const Parsed none = Parse({});
    EXPECT_EQ(none.result, ParseResult::Run);
    EXPECT_TRUE(none.config.wireTime);
    EXPECT_FALSE(none.config.wireQueue);
    EXPECT_EQ(none.run.com, 0);
}

TEST(Options, BadOptionsGiveAClearError) {
    const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
        {{"--bogus"}, "unknown option \"--bogus\""},
        {{"--com"}, "--com needs a value"},
        {{"--com", "0"}, "bad value for --com: \"0\""},
        {{"--com", "3x"}, "bad value for --com"},
        {{"--echo-delay", "-5"}, "bad value for --echo-delay"},
        {{"--traffic", "101"}, "bad value for --traffic"},
        {{"--drop-every", "0"}, "bad value for --drop-every"},
        {{"--quiet=1"}, "--quiet takes no value"},
        {{"--rssi", "80"}, "bad value for --rssi"},
        {{"--rssi", "0x100,1"}, "bad value for --rssi"},
        {{"--burst", "0,100"}, "--burst needs N,MS above 0"},
        {{"--image-format", "hex"}, "--image-format is bin or kfw"},
        {{"--device", "sw=1"}, "a device needs product="},
        {{"--device", "product=12,colour=3"}, "unknown device field \"colour\""},
        {{"--device", "product=256"}, "bad value for device field product"},
        {{"--device", "product=1,serial=0x1000000"}, "bad value for device field serial"},
        {{"--device", "product=1,serial"}, "bad value for device field serial"},
        {{"--expect", "/nonexistent/file.kfw"}, "is not a readable, valid KFW file"},
        {{"--devices", "/nonexistent/devices.txt"}, "cannot read /nonexistent/devices.txt"},
        {{"--replay", "/nonexistent/capture.cap"}, "cannot read"},
    };
    for (const auto& [args, expected] : cases) {
        const Parsed p = Parse(args);
        EXPECT_EQ(p.result, ParseResult::Error) << args[0];
        EXPECT_NE(p.error.find(expected), std::string::npos) << p.error;
    }
}

TEST(Options, FilesAreReadAndTheirFaultsNamed) {
    TempDir dir;
    ASSERT_TRUE(dir.Valid());
    const std::string devices = dir.File("devices.txt");
    WriteText(devices, "# the bench\n"
                       "product=12,serial=0x019234   # in the rack\n"
                       "\n"
                       "   product=20, hw=2\r\n");
    Parsed p = Parse({"--devices", devices, "--device", "product=5"});
    ASSERT_EQ(p.result, ParseResult::Run) << p.error;
    ASSERT_EQ(p.config.devices.size(), 3u);
    EXPECT_EQ(p.config.devices[0].serial, 0x019234u);
    EXPECT_EQ(p.config.devices[1].hardware, 2);
    EXPECT_EQ(p.config.devices[2].product, 5);

    WriteText(devices, "product=12\nproduct=12,hw=300\n");
    p = Parse({"--devices", devices});
    EXPECT_EQ(p.result, ParseResult::Error);
    EXPECT_EQ(p.error, devices + ":2: bad value for device field hw");

    const std::string capture = dir.File("capture.cap");
    WriteText(capture, "83 7C \r\nA1 10 20 6E \r\n");
    p = Parse({"--replay", capture});
    ASSERT_EQ(p.result, ParseResult::Run) << p.error;
    EXPECT_EQ(p.config.traffic.replayLines.size(), 2u);
    WriteText(capture, "83 7C \r\nnot hex\r\n");
    p = Parse({"--replay", capture});
    EXPECT_EQ(p.result, ParseResult::Error);
    EXPECT_EQ(p.error.rfind(capture + ": line 2: ", 0), 0u) << p.error;

    // A KFW file that is not valid, and one that is.
    const std::string kfwPath = dir.File("image.kfw");
    WriteText(kfwPath, "Product: 12\n:this is no record\n");
    EXPECT_EQ(Parse({"--expect", kfwPath}).result, ParseResult::Error);
    kfw::FirmwareHeader header;
    header.product = 12;
    ASSERT_TRUE(kfw::WriteFirmwareFile(kfwPath, header, Bytes(20, 0xAB)));
    p = Parse({"--expect", kfwPath});
    ASSERT_EQ(p.result, ParseResult::Run) << p.error;
    ASSERT_TRUE(p.config.expect.has_value());
    EXPECT_EQ(p.config.expect->header.product, 12);
    EXPECT_EQ(p.config.expect->image.size(), 2u * 6 + 20 + 1);
}
