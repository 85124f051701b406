// The port survey: off the asking thread, only the newest result handed over, and an owner
// that goes while its survey is held neither waits for it nor hears from it.

#include "serial/port_survey.h"
#include "tests/serial/event_test_support.h"
#include "tests/serial/pty_pair.h"

#include <QTimer>
#include <condition_variable>
#include <gtest/gtest.h>

namespace {

using serial::PortSurvey;
using serialtest::RunUntil;

// Holds every survey at its start until released.
class HeldSurveys {
public:
    HeldSurveys() {
        PortSurvey::SetWorkerHookForTests([this] {
            std::unique_lock lock(mutex_);
            ++entered_;
            held_ = true;
            changed_.notify_all();
            changed_.wait_for(lock, std::chrono::seconds(10), [this] { return released_; });
            held_ = false;
            changed_.notify_all();
        });
    }
    ~HeldSurveys() {
        Release();
        PortSurvey::WaitForWorkers(std::chrono::seconds(10));
        PortSurvey::SetWorkerHookForTests({});
    }
    bool WaitEntered(int count) {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, std::chrono::seconds(5),
                                 [&] { return entered_ >= count && held_; });
    }
    void Hold() {
        std::lock_guard lock(mutex_);
        released_ = false;
    }
    void Release() {
        std::lock_guard lock(mutex_);
        released_ = true;
        changed_.notify_all();
    }
    bool Held() {
        std::lock_guard lock(mutex_);
        return held_;
    }
    int Entered() {
        std::lock_guard lock(mutex_);
        return entered_;
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    int entered_ = 0;
    bool held_ = false;
    bool released_ = false;
};

TEST(PortSurvey, RunsOffTheAskingThreadHandsOverTheNewestOnlyAndDropsAGoneOwner) {
    serialtest::App();
    serialtest::PtyPair pty;
    HeldSurveys surveys;
    std::vector<PortSurvey::Result> got;
    auto survey = std::make_unique<PortSurvey>(
        [&](const PortSurvey::Result& result) { got.push_back(result); });

    survey->Start({"/dev/no-such-port"});
    ASSERT_TRUE(surveys.WaitEntered(1));
    // The asking thread goes on handling its events while the survey is held.
    bool ticked = false;
    QTimer::singleShot(0, [&] { ticked = true; });
    ASSERT_TRUE(RunUntil([&] { return ticked; }));
    EXPECT_TRUE(survey->Pending());
    EXPECT_TRUE(got.empty());

    // A newer survey supersedes the held one: only its result arrives.
    survey->Start({pty.Path()});
    surveys.Release();
    ASSERT_TRUE(RunUntil([&] { return !survey->Pending(); }));
    ASSERT_EQ(got.size(), 1u);
    ASSERT_EQ(got[0].size(), 1u);
    EXPECT_EQ(got[0][0].name, pty.Path());
    EXPECT_EQ(got[0][0].probe.state, PortAvailable);
    EXPECT_EQ(got[0][0].info.device, pty.Path());
    EXPECT_EQ(surveys.Entered(), 2);

    // The owner goes while its survey is held: it does not wait, and nothing arrives.
    surveys.Hold();
    survey->Start({pty.Path()});
    ASSERT_TRUE(surveys.WaitEntered(3));
    survey.reset();
    EXPECT_TRUE(surveys.Held());
    surveys.Release();
    ASSERT_TRUE(PortSurvey::WaitForWorkers(std::chrono::seconds(10)));
    serialtest::RunFor(50);
    EXPECT_EQ(got.size(), 1u);
}

} // namespace
