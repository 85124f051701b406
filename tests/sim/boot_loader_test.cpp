// The boot loader behind the test bus: it takes IPL downloads, rebuilds the image, writes it out,
// and checks order, payloads and pauses against the KFW file. Driven in-process with made-up
// times by a stand-in for the loader that keeps the pauses it is told.

#include "loader/kfw_writer.h"
#include "tests/sim/sim_test_support.h"
#include "tools/sim/sim_options.h"

#include <fstream>
#include <iterator>
#include <numeric>

using namespace simtest;

namespace {

// The loader's side: every message after its pause, counted from the moment the echo of the
// previous one was seen; a message whose echo does not come within 50 ms is written again, six
// times at most, as the loader's confirmed send does.
class Downloader {
public:
    explicit Downloader(SimHarness& h) : m_h(h) {}

    bool Send(const Bytes& message, Nanos pause) {
        Nanos at = m_ready + pause;
        for (int write = 0; write < 6; ++write) {
            m_h.Write(at, message);
            const Nanos echo = m_h.AwaitMessage(message, at + Ms(50));
            if (echo >= 0) {
                m_ready = echo + kReaction;
                return true;
            }
            at += Ms(50);
        }
        m_ready = at;
        return false;
    }

    // As Send, but the echo is seen too late: the message is written again `again` after the
    // first write, and the echo of that copy lets the download go on.
    bool SendSeenLate(const Bytes& message, Nanos pause, Nanos again) {
        const Nanos at = m_ready + pause;
        m_h.Write(at, message);
        if (m_h.AwaitMessage(message, at + again) < 0)
            return false;
        m_h.Write(at + again, message);
        const Nanos echo = m_h.AwaitMessage(message, at + again + Ms(50));
        m_ready = echo + kReaction;
        return echo >= 0;
    }

private:
    // The program sees an echo a little after it went out.
    static constexpr Nanos kReaction = 100'000;
    SimHarness& m_h;
    Nanos m_ready = Ms(10);
};

struct Step {
    Bytes message;
    int pauseMs;
};

Bytes Counting(int size, int first) {
    Bytes data(static_cast<std::size_t>(size));
    std::iota(data.begin(), data.end(), static_cast<std::uint8_t>(first));
    return data;
}

Bytes Slice(const Bytes& data, int from, int count = 8) {
    return Bytes(data.begin() + from, data.begin() + from + count);
}

// One download plan: the file, and the messages with the pauses its timing scheme asks for.
struct Plan {
    kfw::FirmwareHeader header;
    Bytes data;
    int recordLength = 16;
    std::uint32_t start = 0;
    std::vector<Step> steps;
};

// RecordTiming, delay 0: two records of 16 bytes.
Plan RecordPlan() {
    Plan p;
    p.header.product = 12;
    p.header.hardware = 1;
    p.header.software = 0x11;
    p.header.lastAddress = 100; // one erase block
    p.data = Counting(32, 0x70);
    p.start = 0x012340;
    p.steps = {
        {Ipl(IplSetup, {255, 12, 1, 0x11, 0, 0, 1, 0}), 0},
        {Ipl(IplAddress, {0x01, 0x23, 0x40}), 100},
        {Ipl(IplData, Slice(p.data, 0)), 5},
        {Ipl(IplData, Slice(p.data, 8)), 0},
        {Ipl(IplAddress, {0x01, 0x23, 0x50}), 0},
        {Ipl(IplData, Slice(p.data, 16)), 5},
        {Ipl(IplData, Slice(p.data, 24)), 0},
        {Ipl(IplEnd), 0},
    };
    return p;
}

// RecordTiming, delay 300 (clamped to 250): 8 ms after every data message, 308 after a record.
Plan RecordPlanWithDelay() {
    Plan p = RecordPlan();
    p.header.delay = 300;
    p.steps = {
        {Ipl(IplSetup, {255, 12, 1, 0x11, 0, 0, 1, 0}), 0},
        {Ipl(IplAddress, {0x01, 0x23, 0x40}), 100},
        {Ipl(IplData, Slice(p.data, 0)), 5},
        {Ipl(IplData, Slice(p.data, 8)), 8},
        {Ipl(IplAddress, {0x01, 0x23, 0x50}), 308},
        {Ipl(IplData, Slice(p.data, 16)), 5},
        {Ipl(IplData, Slice(p.data, 24)), 8},
        {Ipl(IplEnd), 308},
    };
    return p;
}

// BlockTiming: 4 erase blocks of 25 ms, a programming pause of 20 ms each 32 data bytes; records
// of 16, 16 and 12 bytes.
Plan BlockPlan() {
    Plan p;
    p.header.product = 0x9C;
    p.header.hardware = 2;
    p.header.software = 0x19;
    p.header.options = 2;
    p.header.lastAddress = 4096;
    p.header.eraseDly = 25;
    p.header.progBlk = 32;
    p.header.delay = 20;
    p.data = Counting(44, 0xF0); // records of 16, 16 and 12 bytes; bytes above 0x7F
    p.start = 0x000100;
    const Bytes setup = Ipl(IplSetup, {255, 0x9C, 2, 0x19, 2, 0, 4, 0});
    // The last data message of the 12-byte record carries its checksum and the end record's
    // length byte after its four data bytes, as they follow in the loader's image.
    Bytes last = Slice(p.data, 40, 4);
    std::uint8_t sum = 12 + 0x00 + 0x01 + 0x20;
    for (int i = 32; i < 44; ++i)
        sum = static_cast<std::uint8_t>(sum + p.data[static_cast<std::size_t>(i)]);
    last.push_back(static_cast<std::uint8_t>(-sum));
    last.push_back(0); // end record
    p.steps = {
        {setup, 0},
        {setup, 35},
        {Ipl(IplAddress, {0x00, 0x01, 0x00}), 200},
        {Ipl(IplData, Slice(p.data, 0)), 1},
        {Ipl(IplData, Slice(p.data, 8)), 0},
        {Ipl(IplAddress, {0x00, 0x01, 0x10}), 0},
        {Ipl(IplData, Slice(p.data, 16)), 1},
        {Ipl(IplData, Slice(p.data, 24)), 0},
        {Ipl(IplAddress, {0x00, 0x01, 0x20}), 20},
        {Ipl(IplData, Slice(p.data, 32)), 1},
        {Ipl(IplData, last), 0},
        {Ipl(IplEnd), 0},
    };
    return p;
}

class BootLoaderTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(m_dir.Valid()); }

    // Writes the plan's KFW file and a configuration that expects it.
    SimConfig Expecting(const Plan& plan) {
        const std::string path = m_dir.File("source.kfw");
        kfw::KfwWriteOptions options;
        options.recordLength = plan.recordLength;
        options.startAddress = plan.start;
        EXPECT_TRUE(kfw::WriteFirmwareFile(path, plan.header, plan.data, options));
        SimConfig config;
        ExpectedFirmware firmware;
        std::string error;
        EXPECT_TRUE(LoadExpectedFirmware(path, firmware, error)) << error;
        config.expect = std::move(firmware);
        return config;
    }

    // Sends the steps; the pause before step `shortAt` is made `shortenBy` shorter.
    static void Play(SimHarness& h, const std::vector<Step>& steps, int shortAt = -1,
                     Nanos shortenBy = 0) {
        Downloader loader(h);
        for (std::size_t i = 0; i < steps.size(); ++i) {
            Nanos pause = Ms(steps[i].pauseMs);
            if (static_cast<int>(i) == shortAt)
                pause -= shortenBy;
            ASSERT_TRUE(loader.Send(steps[i].message, pause)) << "step " << i;
        }
    }

    static std::vector<std::string> Violations(const SimHarness& h) {
        const auto& reports = h.Sim().BootLoader().Reports();
        return reports.empty() ? std::vector<std::string>{} : reports.back().violations;
    }

    TempDir m_dir;
};

std::string Joined(const std::vector<std::string>& lines) {
    std::string text;
    for (const auto& line : lines)
        text += line + "\n";
    return text;
}

} // namespace

TEST_F(BootLoaderTest, RebuildsAKnownImageAndWritesItAsBinary) {
    const Plan plan = RecordPlan();
    SimConfig config = Expecting(plan);
    config.imageOut = m_dir.File("out.bin");
    SimHarness h(config);
    Play(h, plan.steps);

    const auto& image = h.Sim().BootLoader().Image();
    ASSERT_EQ(image.size(), plan.data.size());
    for (std::size_t i = 0; i < plan.data.size(); ++i)
        EXPECT_EQ(image.at(plan.start + static_cast<std::uint32_t>(i)), plan.data[i]) << i;

    std::ifstream in(config.imageOut, std::ios::binary);
    const Bytes written{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    EXPECT_EQ(written, plan.data);

    ASSERT_EQ(h.Sim().BootLoader().Reports().size(), 1u);
    const DownloadReport& r = h.Sim().BootLoader().Reports()[0];
    EXPECT_TRUE(r.Ok()) << h.ReportText();
    EXPECT_TRUE(r.ended && r.complete && !r.stopped);
    EXPECT_EQ(r.messages, 8);
    EXPECT_EQ(r.writes, 8);
    EXPECT_EQ(r.bitRate, 16457);
    EXPECT_GE(r.duration, Ms(100 + 5 + 5));
    EXPECT_NEAR(static_cast<double>(r.wireTime), static_cast<double>(CharTimes(8 * 16, 16457)),
                1e4);
    EXPECT_TRUE(h.Sim().DownloadsOk());
    EXPECT_TRUE(h.ReportHas("download 1: 8 messages (8 writes), 2 records, 32 image bytes"));
    EXPECT_TRUE(h.ReportHas("image matches"));
    EXPECT_TRUE(h.ReportHas("result OK"));
}

TEST_F(BootLoaderTest, WritesTheImageAsAKfwFileThatLoadsLikeItsSource) {
    const Plan plan = BlockPlan();
    SimConfig config = Expecting(plan);
    config.imageOut = m_dir.File("out.kfw");
    config.imageFormat = ImageFormat::Kfw;
    SimHarness h(config);
    Play(h, plan.steps);
    ASSERT_TRUE(h.Sim().DownloadsOk()) << h.ReportText();

    // Only the records' bytes go out, not the checksum and end byte the last message carried.
    ExpectedFirmware source, copy;
    std::string error;
    ASSERT_TRUE(LoadExpectedFirmware(m_dir.File("source.kfw"), source, error)) << error;
    ASSERT_TRUE(LoadExpectedFirmware(config.imageOut, copy, error)) << error;
    EXPECT_EQ(copy.header, source.header);
    EXPECT_EQ(copy.image, source.image);
}

TEST_F(BootLoaderTest, WithoutAFileTheImageAndHeaderComeFromTheDownload) {
    const Plan plan = RecordPlan();
    SimConfig config;
    config.imageOut = m_dir.File("plain.kfw");
    config.imageFormat = ImageFormat::Kfw;
    SimHarness h(config);
    Play(h, plan.steps);
    ASSERT_EQ(h.Sim().BootLoader().Reports().size(), 1u);
    EXPECT_FALSE(h.Sim().BootLoader().Reports()[0].checked);
    EXPECT_FALSE(h.ReportHas("result")) << "nothing to check against";
    EXPECT_TRUE(h.ReportHas("wire time"));

    ExpectedFirmware copy;
    std::string error;
    ASSERT_TRUE(LoadExpectedFirmware(config.imageOut, copy, error)) << error;
    EXPECT_EQ(copy.header.product, 12);
    EXPECT_EQ(copy.header.hardware, 1);
    EXPECT_EQ(copy.header.software, 0x11);
    // Two records of 16 bytes from 012340, then the end record.
    ASSERT_EQ(copy.image.size(), 2u * 22 + 1);
    EXPECT_EQ(Bytes(copy.image.begin() + 5, copy.image.begin() + 21), Slice(plan.data, 0, 16));
    EXPECT_EQ(copy.image[24], 0x23);
    EXPECT_EQ(copy.image[25], 0x50);
}

TEST_F(BootLoaderTest, PauseCheckerAcceptsCorrectStreamsOfBothSchemes) {
    for (const Plan& plan : {RecordPlan(), RecordPlanWithDelay(), BlockPlan()}) {
        SimHarness h(Expecting(plan));
        Play(h, plan.steps);
        ASSERT_EQ(h.Sim().BootLoader().Reports().size(), 1u);
        const DownloadReport& r = h.Sim().BootLoader().Reports()[0];
        EXPECT_TRUE(r.Ok()) << h.ReportText();
        EXPECT_FALSE(r.pauses.empty());
        for (const auto& [kind, stat] : r.pauses) {
            EXPECT_GE(stat.shortestSlack, 0) << kind;
            EXPECT_LT(stat.shortestSlack, Ms(1)) << kind << ": the stand-in keeps pauses tightly";
        }
        EXPECT_TRUE(h.ReportHas("shortest slack"));
    }
    SimHarness block(Expecting(BlockPlan()));
    Play(block, BlockPlan().steps);
    const auto& pauses = block.Sim().BootLoader().Reports()[0].pauses;
    for (const char* kind :
         {"setup repeat", "after setup and erase", "after address", "program block"})
        EXPECT_EQ(pauses.count(kind), 1u) << kind;
}

TEST_F(BootLoaderTest, PauseCheckerFlagsAnyOnePauseMadeOneMsShort) {
    for (const Plan& plan : {RecordPlan(), RecordPlanWithDelay(), BlockPlan()}) {
        for (std::size_t i = 0; i < plan.steps.size(); ++i) {
            if (plan.steps[i].pauseMs == 0)
                continue;
            SimHarness h(Expecting(plan));
            Play(h, plan.steps, static_cast<int>(i), Ms(1));
            const auto violations = Violations(h);
            ASSERT_EQ(violations.size(), 1u) << "step " << i << "\n" << h.ReportText();
            EXPECT_EQ(violations[0].rfind("message " + std::to_string(i) + ": ", 0), 0u)
                << violations[0];
            EXPECT_TRUE(h.ReportHas("violation: message " + std::to_string(i)));
            EXPECT_TRUE(h.ReportHas("result FAILED (1 violations)"));
            EXPECT_FALSE(h.Sim().DownloadsOk());
        }
    }
}

TEST_F(BootLoaderTest, RepeatedWritesOfOneMessageCountOnce) {
    const Plan plan = RecordPlan();
    SimConfig config = Expecting(plan);
    config.faults.corruptNth = 3; // the first IplData: the stand-in writes it again
    SimHarness h(config);
    Play(h, plan.steps);
    ASSERT_EQ(h.Sim().BootLoader().Reports().size(), 1u);
    const DownloadReport& r = h.Sim().BootLoader().Reports()[0];
    EXPECT_TRUE(r.Ok()) << h.ReportText();
    EXPECT_EQ(r.messages, 8);
    EXPECT_EQ(r.writes, 9);
    EXPECT_EQ(h.Sim().BootLoader().Image().size(), plan.data.size());
}

TEST_F(BootLoaderTest, AMessageWrittenAgainAfterItsEchoCountsOnceButEqualNeighboursTwice) {
    // Two records of 16 bytes of FF: each record's two data messages are equal.
    Plan plan = RecordPlan();
    plan.data.assign(32, 0xFF);
    for (Step& step : plan.steps)
        if ((step.message[10] & 0x70) == IplData)
            step.message = Ipl(IplData, Bytes(8, 0xFF));
    SimHarness h(Expecting(plan));
    Downloader loader(h);
    for (std::size_t i = 0; i < plan.steps.size(); ++i) {
        const Nanos pause = Ms(plan.steps[i].pauseMs);
        if (i == 2 || i == 4)
            ASSERT_TRUE(loader.SendSeenLate(plan.steps[i].message, pause, Ms(55))) << i;
        else
            ASSERT_TRUE(loader.Send(plan.steps[i].message, pause)) << i;
    }
    ASSERT_EQ(h.Sim().BootLoader().Reports().size(), 1u);
    const DownloadReport& r = h.Sim().BootLoader().Reports()[0];
    EXPECT_TRUE(r.Ok()) << h.ReportText();
    EXPECT_EQ(r.messages, 8);
    EXPECT_EQ(r.writes, 10);
    EXPECT_TRUE(h.LogHas("boot loader: IplData written again"));
    EXPECT_TRUE(h.LogHas("boot loader: IplAddress written again"));
    EXPECT_EQ(h.Sim().BootLoader().Image().size(), 32u);
}

TEST_F(BootLoaderTest, WrongPayloadsAndOrderAreViolations) {
    struct Case {
        const char* name;
        std::function<void(std::vector<Step>&)> change;
        const char* expected;
    };
    const std::vector<Case> cases = {
        {"data byte",
         [](auto& s) {
             s[3].message = Ipl(IplData, {1, 2, 3});
         },
         "IplData byte 0"},
        {"address",
         [](auto& s) {
             s[4].message = Ipl(IplAddress, {0x01, 0x23, 0x60});
         },
         "IplAddress 012360, expected 012350"},
        {"setup",
         [](auto& s) {
             s[0].message = Ipl(IplSetup, {255, 12, 1, 0x11, 0, 0, 2, 0});
         },
         "IplSetup payload"},
        {"order", [](auto& s) { s.erase(s.begin() + 1); }, "IplData where IplAddress was due"},
    };
    for (const Case& c : cases) {
        const Plan plan = RecordPlan();
        std::vector<Step> steps = plan.steps;
        c.change(steps);
        SimHarness h(Expecting(plan));
        Play(h, steps);
        h.Sim().Finish();
        const std::string text = Joined(Violations(h));
        EXPECT_NE(text.find(c.expected), std::string::npos) << c.name << "\n" << h.ReportText();
        EXPECT_FALSE(h.Sim().DownloadsOk()) << c.name;
    }
}

TEST_F(BootLoaderTest, BlockTimingThatSendsOneSetupOnlyIsFlagged) {
    const Plan plan = BlockPlan();
    std::vector<Step> steps = plan.steps;
    steps.erase(steps.begin() + 1);
    SimHarness h(Expecting(plan));
    Play(h, steps);
    EXPECT_NE(Joined(Violations(h)).find("message 1: IplSetup was sent only once"),
              std::string::npos)
        << h.ReportText();
}

TEST_F(BootLoaderTest, AStopEndsTheDownloadAfter200MsAtARecordBoundary) {
    for (int pause : {200, 199}) {
        const Plan plan = RecordPlan();
        std::vector<Step> steps(plan.steps.begin(), plan.steps.begin() + 4);
        steps.push_back({Ipl(IplEnd), pause});
        SimHarness h(Expecting(plan));
        Play(h, steps);
        ASSERT_EQ(h.Sim().BootLoader().Reports().size(), 1u);
        const DownloadReport& r = h.Sim().BootLoader().Reports()[0];
        EXPECT_TRUE(r.stopped);
        EXPECT_FALSE(r.Ok());
        EXPECT_EQ(r.violations.size(), pause == 200 ? 0u : 1u) << h.ReportText();
        EXPECT_TRUE(h.ReportHas(pause == 200 ? "result FAILED (stopped)" : "(stop)"));
    }
}

TEST_F(BootLoaderTest, BusyAfterSetupDrivesBlockTimingToItsThirdSetup) {
    const Plan plan = BlockPlan();
    SimConfig config = Expecting(plan);
    config.faults.busyAfterSetup = Ms(400);
    SimHarness h(config);
    Downloader loader(h);
    ASSERT_TRUE(loader.Send(plan.steps[0].message, 0));
    EXPECT_FALSE(loader.Send(plan.steps[1].message, Ms(35))) << "six writes while busy";
    ASSERT_TRUE(loader.Send(plan.steps[1].message, Ms(300)));
    for (std::size_t i = 2; i < plan.steps.size(); ++i)
        ASSERT_TRUE(loader.Send(plan.steps[i].message, Ms(plan.steps[i].pauseMs))) << i;

    ASSERT_EQ(h.Sim().BootLoader().Reports().size(), 1u) << h.ReportText();
    const DownloadReport& r = h.Sim().BootLoader().Reports()[0];
    EXPECT_TRUE(r.Ok()) << h.ReportText();
    EXPECT_EQ(r.messages, 13);
    EXPECT_EQ(r.writes, 18);
    EXPECT_EQ(r.pauses.count("setup retry"), 1u);
}

TEST_F(BootLoaderTest, ADownloadCutShortIsReportedAtTheEnd) {
    const Plan plan = RecordPlan();
    SimHarness h(Expecting(plan));
    Play(h, std::vector<Step>(plan.steps.begin(), plan.steps.begin() + 5));
    EXPECT_TRUE(h.Sim().BootLoader().Reports().empty());
    h.Sim().Finish();
    ASSERT_EQ(h.Sim().BootLoader().Reports().size(), 1u);
    EXPECT_FALSE(h.Sim().BootLoader().Reports()[0].ended);
    EXPECT_TRUE(h.ReportHas("ended without IplEnd"));
    EXPECT_TRUE(h.ReportHas("result FAILED (incomplete)"));

    // Outside a download, the boot loader ignores what is not an IplSetup.
    h.Write(h.Now() + Ms(10), Ipl(IplData, {1}));
    h.RunUntil(h.Now() + Ms(100));
    EXPECT_TRUE(h.LogHas("IplData without a download ignored"));
    EXPECT_EQ(h.Sim().BootLoader().Reports().size(), 1u);

    // A new IplSetup starts the next download and ends the one under way.
    SimHarness twice(Expecting(plan));
    Play(twice, std::vector<Step>(plan.steps.begin(), plan.steps.begin() + 3));
    Play(twice, plan.steps);
    ASSERT_EQ(twice.Sim().BootLoader().Reports().size(), 2u);
    EXPECT_FALSE(twice.Sim().BootLoader().Reports()[0].Ok());
    EXPECT_TRUE(twice.Sim().BootLoader().Reports()[1].Ok()) << twice.ReportText();
}
