#include "serial/serial_ex.h"

#include "serial/serial_device.h"

#include <system_error>

CSerialEx::~CSerialEx() {
    if (thread.joinable() || !letGo.empty()) {
        CSerialEx::Close();
    }
}

std::int32_t CSerialEx::Open(const char* device, std::uint32_t inQueueSize,
                             std::uint32_t outQueueSize, bool startThread) {
    if (std::int32_t result = CSerial::Open(device, inQueueSize, outQueueSize, true)) {
        return result;
    }
    threadEvent = std::make_shared<platform::ManualResetSignal>();
    if (startThread) {
        if (std::int32_t result = StartEventThread()) {
            return result;
        }
    }
    return SerialOk; // not lastError, which a started event thread may already write
}

std::int32_t CSerialEx::Close() {
    StopEventThread(SerialInfinite);
    JoinLetGoThreads();
    threadEvent.reset();
    return CSerial::Close();
}

// Threads let go by an expired stop still use this object: they end before it is released.
void CSerialEx::JoinLetGoThreads() {
    if (letGo.empty()) {
        return;
    }
    // Whatever wait they have started completes with no event bits.
    if (std::shared_ptr<serial::SerialDevice> device = Device()) {
        device->SetMask(GetEventMask());
    }
    for (std::thread& waiting : letGo) {
        waiting.join();
    }
    letGo.clear();
}

std::int32_t CSerialEx::StartEventThread() {
    if (thread.joinable()) {
        return Store(SerialOk);
    }
    if (!IsOpen() || !threadEvent) {
        return Store(SerialErrNotOpen);
    }
    auto ended = std::make_shared<platform::ManualResetSignal>();
    auto told = std::make_shared<std::atomic<bool>>(false);
    try {
        thread = std::thread([this, ended, told] {
            EventLoop(*told);
            ended->Set();
        });
    } catch (const std::system_error& failure) {
        return Store(SerialErrorFromErrno(failure.code().value()));
    }
    threadEnded = std::move(ended);
    threadTold = std::move(told);
    return Store(SerialOk);
}

std::int32_t CSerialEx::StopEventThread(std::uint32_t timeoutMs) {
    if (thread.joinable()) {
        stopping.store(true);
        // Re-applying the mask completes the thread's pending wait with no event bits.
        SetEventMask(GetEventMask());
        threadTold->store(true); // stays set for this thread, whatever comes after
        if (threadEnded->Wait(timeoutMs) == platform::WaitSignalled) {
            thread.join();
        } else {
            letGo.push_back(std::move(thread));
        }
        stopping.store(false);
        threadEnded.reset();
        threadTold.reset();
    }
    return Store(SerialOk);
}

void CSerialEx::EventLoop(const std::atomic<bool>& told) {
    for (;;) {
        threadEvent->Reset();
        CompletionRecord record;
        record.signal = threadEvent.get();
        if (WaitForEvent(&record, SerialInfinite) != SerialOk) {
            return; // the error stays in lastError; the port stays open until Close
        }
        std::shared_ptr<serial::SerialDevice> device = Device();
        if (ShouldStop(told)) {
            // The stop came before the wait was in place, so nothing will complete it.
            if (device) {
                device->CancelThreadOperations(record);
            }
            return;
        }
        threadEvent->Wait(platform::WaitForever);
        if (ShouldStop(told)) {
            return;
        }
        const std::uint32_t events = TakeEvents();
        std::uint32_t errors = 0;
        if (device) {
            if (std::int32_t error = device->FetchLineErrors(errors)) {
                Store(error);
            }
        }
        if (events != 0) {
            DeliverEvent(events, errors);
        }
        if (ShouldStop(told)) {
            return;
        }
    }
}
