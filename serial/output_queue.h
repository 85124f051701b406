#pragma once
// The terminal driver's output queue as the serial library sees it: how many of the bytes written to a
// descriptor have not gone out yet, and throwing those away. A write completes only once its
// bytes have left the queue, and a write that times out discards what is left of it.
//
// A pseudo-terminal passes every byte on at once (its queue always reads 0), so tests put a
// queue of their own in the driver's place to reach the paths that wait for a drain or discard.

namespace serial {

class OutputQueue {
public:
    virtual ~OutputQueue() = default;
    // The driver took `count` bytes for `fd`.
    virtual void Wrote(int fd, int count) = 0;
    virtual int Queued(int fd) = 0;
    virtual void Discard(int fd) = 0;
};

// The driver took bytes; how many of those written to `fd` have not been sent yet; throwing
// those away. The driver's own queue (TIOCOUTQ, TCOFLUSH), or the stand-in's while one is set.
void NoteWritten(int fd, int count);
int QueuedOutput(int fd);
void DiscardQueuedOutput(int fd);

// Puts `queue` in the driver's place for every port, or the driver back with null. For tests;
// the stand-in must outlive every port that uses it.
void SetOutputQueueStandIn(OutputQueue* queue);

} // namespace serial
