#include "serial/serial_ex.h"

#include "serial/serial_device.h"

#include <system_error>

CSerialEx::~CSerialEx() {
    if (thread.joinable()) {
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
    threadEvent.reset();
    return CSerial::Close();
}

std::int32_t CSerialEx::StartEventThread() {
    if (thread.joinable()) {
        return Store(SerialOk);
    }
    auto ended = std::make_shared<platform::ManualResetSignal>();
    try {
        thread = std::thread([this, ended] {
            EventLoop();
            ended->Set();
        });
    } catch (const std::system_error& failure) {
        return Store(SerialErrorFromErrno(failure.code().value()));
    }
    threadEnded = std::move(ended);
    return Store(SerialOk);
}

std::int32_t CSerialEx::StopEventThread(std::uint32_t timeoutMs) {
    if (thread.joinable()) {
        stopping.store(true);
        // Re-applying the mask completes the thread's pending wait with no event bits.
        SetEventMask(GetEventMask());
        if (threadEnded->Wait(timeoutMs) == platform::WaitSignalled) {
            thread.join();
        } else {
            thread.detach();
        }
        stopping.store(false);
        threadEnded.reset();
    }
    return Store(SerialOk);
}

void CSerialEx::EventLoop() {
    for (;;) {
        threadEvent->Reset();
        CompletionRecord record;
        record.signal = threadEvent.get();
        if (WaitForEvent(&record, SerialInfinite) != SerialOk) {
            return; // the error stays in lastError; the port stays open until Close
        }
        std::shared_ptr<serial::SerialDevice> device = Device();
        if (stopping.load()) {
            // The stop came before the wait was in place, so nothing will complete it.
            if (device) {
                device->CancelThreadOperations(record);
            }
            return;
        }
        threadEvent->Wait(platform::WaitForever);
        if (stopping.load()) {
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
        if (stopping.load()) {
            return;
        }
    }
}
