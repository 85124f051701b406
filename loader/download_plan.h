#pragma once
// The schedule of one download worked out before it starts: for every record boundary, how many
// IPL messages have gone by then, how long those messages take on the line at the port's bit
// rate, and how long the engine has paused. It adds up the very steps that the engine takes
// (download_steps.h), so that the time still to go can be told from the progress offset alone.

#include "loader/kfw_file.h"

#include <cstdint>
#include <vector>

struct DownloadMark {
    int offset = 0;           // the progress offset once the record is done (0 for the start)
    int messages = 0;         // IPL messages confirmed by then
    std::int64_t wireNs = 0;  // their time on the line
    std::int64_t pauseNs = 0; // the engine's pauses by then
};

struct DownloadPlan {
    // marks[0] is the start of the run; one mark per record follows, in offset order.
    std::vector<DownloadMark> marks;
    // The whole run, to the end of the worker (end message, closing pause included).
    DownloadMark total;
};

// Wire time of one IplMessage at `bitRate` (8 data bits, no parity, one stop bit).
std::int64_t IplMessageWireNs(std::uint32_t bitRate);

// The plan of downloading `image` (the records as the loader stores them, `length` bytes) with
// the timing scheme of `header` at `bitRate`. An image without its end record fails at once and
// plans no messages.
DownloadPlan PlanDownload(const kfw::FirmwareHeader& header, const std::uint8_t* image, int length,
                          std::uint32_t bitRate);

// The mark for a progress offset: the last one at or before it.
const DownloadMark& MarkAt(const DownloadPlan& plan, int offset);
