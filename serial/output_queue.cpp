#include "serial/output_queue.h"

#include "serial/line_settings.h"

#include <atomic>
#include <sys/ioctl.h>

namespace serial {
namespace {

std::atomic<OutputQueue*> g_standIn{nullptr};

} // namespace

void NoteWritten(int fd, int count) {
    if (OutputQueue* queue = g_standIn.load()) {
        queue->Wrote(fd, count);
    }
}

int QueuedOutput(int fd) {
    if (OutputQueue* queue = g_standIn.load()) {
        return queue->Queued(fd);
    }
    int queued = 0;
    return ioctl(fd, TIOCOUTQ, &queued) == 0 ? queued : 0;
}

void DiscardQueuedOutput(int fd) {
    if (OutputQueue* queue = g_standIn.load()) {
        queue->Discard(fd);
        return;
    }
    DiscardOutput(fd);
}

void SetOutputQueueStandIn(OutputQueue* queue) {
    g_standIn.store(queue);
}

} // namespace serial
