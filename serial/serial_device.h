#pragma once
// An open serial device: its link (a terminal device or a network connection, see port_link.h)
// and a service thread that carries the transfers and event waits that could not finish at
// once, completing their records later.
//
// All calls on the link happen under one mutex, so that Shutdown (from Close) can release the
// link while other threads still hold the object. Results are error codes of serial.h.

#include "serial/completion_record.h"
#include "serial/line_settings.h"
#include "serial/port_link.h"

#include <atomic>
#include <cstdint>
#include <deque>
#include <linux/serial.h>
#include <list>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

namespace serial {

// The read time-out record. Interval 0xFFFFFFFF with both totals 0 returns at once with what has
// arrived; any other record finishes a read only when all requested bytes have arrived.
struct ReadTimeouts {
    std::uint32_t interval = 0;
    std::uint32_t totalPerByte = 0;
    std::uint32_t totalConstant = 0;
};

class SerialDevice {
public:
    // Resolves the name and opens its link: a terminal device exclusively in raw mode, with its
    // lock file where the lock folder allows it and low latency, or a network port, whose
    // connection the service thread makes. Then starts the service thread. systemError receives
    // the errno behind a failure (0 on success).
    static std::int32_t Open(const char* name, std::shared_ptr<SerialDevice>& device,
                             int& systemError);

    explicit SerialDevice(std::unique_ptr<PortLink> link);
    SerialDevice(const SerialDevice&) = delete;
    SerialDevice& operator=(const SerialDevice&) = delete;
    ~SerialDevice();

    // Aborts pending operations, stops the service thread and releases the device. Afterwards
    // every call returns SerialErrNotOpen.
    void Shutdown();

    std::int32_t GetSettings(LineSettings& settings);
    std::int32_t SetSettings(const LineSettings& settings);
    std::int32_t GetReadTimeouts(ReadTimeouts& timeouts);
    std::int32_t SetReadTimeouts(const ReadTimeouts& timeouts);
    // Applies the event mask; a pending event wait completes with no event bits.
    std::int32_t SetMask(std::uint32_t mask);

    // Start an operation on record. Return 0 when it finished at once (the record's signal is
    // set), SerialErrIoPending when the record will be completed later, or the error. A write
    // completes when its bytes have left the driver's queue; writes go out in the order started.
    std::int32_t StartRead(CompletionRecord& record, void* buffer, std::uint32_t size);
    std::int32_t StartWrite(CompletionRecord& record, const void* data, std::uint32_t size);
    std::int32_t StartWait(CompletionRecord& record, std::atomic<std::uint32_t>& events);

    // Cancels the pending operations that the calling thread started; the unsent bytes of a
    // cancelled write are discarded, and nothing of the writes that completed before it.
    // Returns whether `watched` was among them.
    bool CancelThreadOperations(const CompletionRecord& watched);

    // Returns and resets the line-error flags gathered since the last call.
    std::int32_t FetchLineErrors(std::uint32_t& flags);
    // Adds line errors as if the driver had counted them (for tests: terminals that are not
    // UARTs count none).
    void InjectLineErrors(std::uint32_t flags);

private:
    struct Operation;
    enum class Progress { Pending, Finished, DeviceGone };

    std::int32_t Init();
    std::int32_t Start(Operation operation);
    Progress Advance(Operation& operation);
    void Complete(Operation& operation, std::int32_t status);
    void RaiseEvents(std::uint32_t events);
    void MarkLost(int error);
    std::int32_t Unusable() const;
    std::uint32_t CountedEvents();
    bool NeedsCounterPolling() const;
    std::uint32_t TakeNewInput();
    bool HasPendingWrite() const;
    int DrainPollMs() const;
    void Wake();
    void ServiceLoop();

    std::mutex mutex_;
    std::unique_ptr<PortLink> link_;
    int epoll_ = -1;
    int wake_ = -1;
    bool shutDown_ = false;
    int lostError_ = 0; // errno that made the device unusable, 0 while it works
    std::list<Operation> pending_;
    std::uint32_t mask_ = 0;
    std::uint32_t history_ = 0; // events seen while no wait was pending
    int inputSeen_ = 0;         // bytes waiting in the input queue when last looked at
    LineSettings kept_;         // the fields that the kernel does not hold
    ReadTimeouts timeouts_;
    bool countsSupported_ = false;
    serial_icounter_struct eventCounts_{};
    serial_icounter_struct errorCounts_{};
    std::uint32_t injectedErrors_ = 0; // reported by the link or a test, not by counters
    std::deque<std::uint8_t> held_;    // read ahead to find the event character, not yet taken
    std::thread service_;
};

} // namespace serial
