#pragma once
// The time left of a running download. The worker reports each record boundary as it reaches it;
// any thread may ask for the estimate meanwhile.
//
// What remains is the wire time of the messages still to send plus the pauses still to keep,
// both from the download's plan. The pauses are kept precisely, but a message takes longer than
// its wire time (the echo, the link's polling), so the wire time still to go is scaled by the
// ratio measured so far: time taken by the messages sent, over their wire time. The ratio is
// taken over the recent messages only, so that it follows a link that speeds up or slows down,
// and leaves out the start of the run (thread start, port opening) once records have gone by.

#include "loader/download_plan.h"

#include <cstdint>
#include <mutex>
#include <vector>

struct DownloadProgress {
    bool running = false;
    int percent = 0;               // of the records done
    int messagesSent = 0;          // IPL messages confirmed up to the last record reached
    int messagesTotal = 0;         // IPL messages of the whole run
    std::int64_t leftNs = 0;       // estimated time left, at the time asked
    std::int64_t markNs = 0;       // when the last record boundary was reached
    std::int64_t leftAtMarkNs = 0; // the estimate at that moment
    std::int64_t endNs = 0;        // when the run ended, once it has
};

class CTimeLeft {
public:
    // A run of `plan` begins at `nowNs`.
    void Start(DownloadPlan plan, std::int64_t nowNs);
    // The worker has finished the record ending at `offset`.
    void Reached(int offset, std::int64_t nowNs);
    // The run is over. `succeeded` when it ended without a failure: after its last record that
    // means the end message went too.
    void Finish(std::int64_t nowNs, bool succeeded);

    DownloadProgress At(std::int64_t nowNs) const;

private:
    std::int64_t LeftAtMark() const;

    mutable std::mutex m_mutex;
    DownloadPlan m_plan;
    bool m_running = false;
    std::int64_t m_startNs = 0;
    std::int64_t m_endNs = 0;
    struct Passed {
        DownloadMark mark;
        std::int64_t atNs = 0;
    };
    // The boundaries reached, the start first.
    std::vector<Passed> m_passed;
    DownloadMark m_mark;
    std::int64_t m_markNs = 0;
};
