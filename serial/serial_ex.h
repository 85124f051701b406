#pragma once
// CSerialEx: a serial port, always opened asynchronously, with an event thread that waits for the
// port's events and hands each batch, with the line errors fetched with it, to DeliverEvent.
// The event thread never reads data and never waits for anyone but the port. A class that
// supplies DeliverEvent closes the port in its own destructor, so that the thread has ended before
// its part of the object goes.

#include "serial/serial.h"

#include <atomic>
#include <memory>
#include <thread>
#include <vector>

class CSerialEx : public CSerial {
public:
    CSerialEx() = default;
    ~CSerialEx() override;

    // Opens the port asynchronously; startThread starts the event thread as well.
    std::int32_t Open(const char* device, std::uint32_t inQueueSize = 0,
                      std::uint32_t outQueueSize = 0, bool startThread = true) override;
    // Stops the event thread (without a time limit), then closes the port.
    std::int32_t Close() override;

    // Starts the event thread unless it runs already; SerialErrNotOpen when the port is closed.
    virtual std::int32_t StartEventThread();
    // Wakes the event thread and waits up to timeoutMs for it to end. When the wait expires the
    // thread is let go of here but told to end, and Close waits for it.
    virtual std::int32_t StopEventThread(std::uint32_t timeoutMs = SerialInfinite);

protected:
    // Called on the event thread with events != 0 and the line-error flags fetched with them.
    virtual bool DeliverEvent(std::uint32_t events, std::uint32_t errors) = 0;

    bool EventThreadRunning() const { return thread.joinable(); }

    std::atomic<bool> stopping{false};
    std::thread thread;
    std::shared_ptr<platform::ManualResetSignal> threadEvent;

private:
    void EventLoop(const std::atomic<bool>& told);
    bool ShouldStop(const std::atomic<bool>& told) const { return stopping.load() || told.load(); }
    void JoinLetGoThreads();

    std::shared_ptr<platform::ManualResetSignal> threadEnded;
    std::shared_ptr<std::atomic<bool>> threadTold; // the running thread's own stop request
    std::vector<std::thread> letGo;                // threads whose stop outlasted its time-out
};
