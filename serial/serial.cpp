#include "serial/serial.h"

#include "serial/exclusive_open.h"
#include "serial/port_names.h"
#include "serial/port_probe.h"
#include "serial/serial_device.h"

#include <cerrno>
#include <cstring>

using serial::LineSettings;
using serial::ReadTimeouts;
using serial::SerialDevice;

std::int32_t SerialErrorFromErrno(int error) {
    switch (error) {
    case 0:
        return SerialOk;
    case ENOENT:
    case ENXIO:
    case ENODEV:
        return SerialErrFileNotFound;
    case EACCES:
    case EBUSY:
    case EWOULDBLOCK:
        return SerialErrAccessDenied;
    default:
        return SerialErrnoBase | error;
    }
}

void SimulateLineErrors(CSerial& port, std::uint32_t flags) {
    if (std::shared_ptr<SerialDevice> device = port.handle.load()) {
        device->InjectLineErrors(flags);
    }
}

template <typename StartOperation>
std::int32_t CSerial::RunBounded(CompletionRecord* record, std::uint32_t timeoutMs,
                                 std::uint32_t* count, StartOperation start) {
    std::uint32_t unused = 0;
    std::uint32_t& transferred = count != nullptr ? *count : unused;
    transferred = 0;
    Store(SerialOk);
    std::shared_ptr<SerialDevice> device = Device();
    if (!device) {
        return Store(SerialErrNotOpen);
    }
    std::shared_ptr<platform::ManualResetSignal> signal = ioEvent.load();
    if (!signal) {
        // Synchronous mode: the operation runs to its end on this thread.
        if (record != nullptr || timeoutMs != SerialInfinite) {
            return Store(SerialErrInvalidFunction);
        }
        platform::ManualResetSignal done;
        CompletionRecord own;
        own.signal = &done;
        std::int32_t result = start(*device, own);
        if (result == SerialErrIoPending) {
            done.Wait(platform::WaitForever);
            result = own.status.load();
        }
        transferred = own.count.load();
        return Store(result);
    }
    if (record != nullptr) {
        const std::int32_t result = start(*device, *record);
        if (result == SerialErrIoPending) {
            return Store(SerialOk); // the count arrives with the record's signal
        }
        transferred = record->count.load();
        return Store(result);
    }
    // A signal of this call's own: another thread's call at the same time (a read while a write
    // drains) must neither reset it nor be woken by it.
    platform::ManualResetSignal done;
    CompletionRecord own;
    own.signal = &done;
    const std::int32_t result = start(*device, own);
    if (result != SerialErrIoPending) {
        transferred = own.count.load();
        return Store(result);
    }
    if (done.Wait(timeoutMs) == platform::WaitTimedOut && device->CancelThreadOperations(own)) {
        return Store(SerialErrTimeout);
    }
    // Finished, possibly just as the time-out expired: its outcome stands.
    transferred = own.count.load();
    return Store(own.status.load());
}

template <typename Edit> std::int32_t CSerial::ChangeSettings(Edit edit) {
    Store(SerialOk);
    std::shared_ptr<SerialDevice> device = Device();
    if (!device) {
        return Store(SerialErrNotOpen);
    }
    LineSettings settings;
    if (std::int32_t error = device->GetSettings(settings)) {
        return Store(error);
    }
    if (std::int32_t error = edit(settings)) {
        return Store(error);
    }
    return Store(device->SetSettings(settings));
}

template <typename Field> std::int32_t CSerial::QuerySettings(Field field) {
    Store(SerialOk);
    std::shared_ptr<SerialDevice> device = Device();
    if (!device) {
        Store(SerialErrNotOpen);
        return -1;
    }
    LineSettings settings;
    if (std::int32_t error = device->GetSettings(settings)) {
        Store(error);
        return -1;
    }
    return field(settings);
}

CSerial::CSerial() = default;

CSerial::~CSerial() {
    if (IsOpen()) {
        CSerial::Close();
    }
}

PortState CSerial::ProbePort(const char* device, int* reason) {
    serial::PortRefusal refusal;
    const PortState state = ProbePort(device, refusal);
    if (reason != nullptr) {
        *reason = refusal.error;
    }
    return state;
}

PortState CSerial::ProbePort(const char* device, serial::PortRefusal& refusal) {
    const serial::PortProbe probe = serial::ProbePorts({device}).front();
    refusal = probe.refusal;
    return probe.state;
}

std::int32_t CSerial::Open(const char* device, std::uint32_t inQueueSize,
                           std::uint32_t outQueueSize, bool overlapped) {
    Store(SerialOk);
    if (IsOpen()) {
        return Store(SerialErrAlreadyOpen);
    }
    std::shared_ptr<SerialDevice> opened;
    serial::PortRefusal refusal;
    const std::int32_t error = SerialDevice::Open(device, opened, refusal);
    lastOpenReason.store(refusal.error);
    {
        std::lock_guard lock(refusalMutex);
        lastRefusal = std::move(refusal);
    }
    if (error != SerialOk) {
        return Store(error);
    }
    if (overlapped) {
        ioEvent.store(std::make_shared<platform::ManualResetSignal>());
    }
    handle.store(std::move(opened));
    // The kernel's queues have fixed sizes; the recommendation has nothing to change.
    (void)inQueueSize;
    (void)outQueueSize;
    SetEventMask(SerialDefaultEventMask); // a failure here is not reported by Open
    // Linux keeps no stored default configuration per device; the line is raw from the open.
    return SetReadMode(ReadNonBlocking);
}

std::int32_t CSerial::Close() {
    Store(SerialOk);
    std::shared_ptr<SerialDevice> device = handle.exchange(nullptr);
    if (!device) {
        return SerialOk;
    }
    ioEvent.store(nullptr);
    device->Shutdown();
    // Not lastError: a transfer that the shutdown has just aborted on another thread stores its
    // own outcome there.
    return Store(SerialOk);
}

serial::PortRefusal CSerial::GetLastRefusal() const {
    std::lock_guard lock(refusalMutex);
    return lastRefusal;
}

bool CSerial::IsOpen() const {
    return handle.load() != nullptr;
}

std::uint32_t CSerial::TakeEvents() {
    return pendingEvents.exchange(0) & eventMask.load();
}

std::int32_t CSerial::SetLineFormat(std::uint32_t bitRate, std::uint8_t dataBits, Parity parity,
                                    StopBits stopBits) {
    return ChangeSettings([&](LineSettings& settings) {
        settings.bitRate = bitRate;
        settings.dataBits = dataBits;
        // Codes the line cannot take are refused by the device, which judges the values.
        settings.parity = parity >= 0 && parity <= 0xFF ? static_cast<std::uint8_t>(parity) : 0xFF;
        settings.stopBits = stopBits;
        settings.parityCheck = parity != ParityNone;
        return SerialOk;
    });
}

std::int32_t CSerial::SetEventCharacter(std::uint8_t character, bool adjustMask) {
    std::int32_t adjusted = SerialOk;
    const std::int32_t written = ChangeSettings([&](LineSettings& settings) {
        settings.eventChar = character;
        if (adjustMask) {
            adjusted = SetEventMask(GetEventMask() | EvRxFlag);
        }
        return std::int32_t{SerialOk};
    });
    // A failed mask adjustment is reported even though the record was written.
    return written != SerialOk ? written : Store(adjusted);
}

std::int32_t CSerial::SetEventMask(std::uint32_t mask) {
    Store(SerialOk);
    std::shared_ptr<SerialDevice> device = Device();
    if (!device) {
        return Store(SerialErrNotOpen);
    }
    if (std::int32_t error = device->SetMask(mask)) {
        return Store(error);
    }
    eventMask.store(mask);
    return SerialOk;
}

std::int32_t CSerial::SetFlowControl(FlowControl mode) {
    return ChangeSettings([&](LineSettings& settings) {
        switch (mode) {
        case FlowNone:
            settings.ctsOutFlow = false;
            settings.dsrOutFlow = false;
            settings.dtrControl = 0;
            settings.rtsControl = 1;
            settings.outX = false;
            settings.inX = false;
            return std::int32_t{SerialOk};
        case FlowHardware:
            settings.ctsOutFlow = true;
            settings.dsrOutFlow = false;
            settings.dtrControl = 2;
            settings.rtsControl = 2;
            settings.outX = false;
            settings.inX = false;
            return std::int32_t{SerialOk};
        case FlowSoftware:
            settings.ctsOutFlow = false;
            settings.dsrOutFlow = false;
            settings.dtrControl = 0;
            settings.rtsControl = 0;
            settings.outX = true;
            settings.inX = true;
            return std::int32_t{SerialOk};
        }
        return std::int32_t{SerialErrInvalidArg};
    });
}

std::int32_t CSerial::SetReadMode(ReadMode mode) {
    Store(SerialOk);
    std::shared_ptr<SerialDevice> device = Device();
    if (!device) {
        return Store(SerialErrNotOpen);
    }
    ReadTimeouts timeouts;
    if (std::int32_t error = device->GetReadTimeouts(timeouts)) {
        return Store(error);
    }
    switch (mode) {
    case ReadNonBlocking:
        timeouts = {0xFFFFFFFF, 0, 0};
        break;
    case ReadBlocking:
        timeouts = {0, 0, 0};
        break;
    default:
        return Store(SerialErrInvalidArg);
    }
    return Store(device->SetReadTimeouts(timeouts));
}

std::int32_t CSerial::GetBitRate() {
    return QuerySettings(
        [](const LineSettings& s) { return static_cast<std::int32_t>(s.bitRate); });
}

std::int32_t CSerial::GetDataBits() {
    return QuerySettings([](const LineSettings& s) { return std::int32_t{s.dataBits}; });
}

std::int32_t CSerial::GetParity() {
    return QuerySettings([](const LineSettings& s) {
        return s.parityCheck ? std::int32_t{s.parity} : std::int32_t{ParityNone};
    });
}

std::int32_t CSerial::GetStopBits() {
    return QuerySettings([](const LineSettings& s) { return std::int32_t{s.stopBits}; });
}

std::int32_t CSerial::GetFlowControl() {
    return QuerySettings([](const LineSettings& s) -> std::int32_t {
        if (s.dtrControl == 2 && s.rtsControl == 2) {
            return FlowHardware;
        }
        return s.outX && s.inX ? FlowSoftware : FlowNone;
    });
}

std::uint32_t CSerial::GetEventMask() {
    Store(SerialOk);
    if (!IsOpen()) {
        Store(SerialErrNotOpen);
        return 0;
    }
    return eventMask.load();
}

std::uint8_t CSerial::GetEventCharacter() {
    const std::int32_t character =
        QuerySettings([](const LineSettings& s) { return std::int32_t{s.eventChar}; });
    return character < 0 ? 0 : static_cast<std::uint8_t>(character);
}

std::int32_t CSerial::WriteText(const char* text, std::uint32_t* written, CompletionRecord* record,
                                std::uint32_t timeoutMs) {
    return Write(text, static_cast<std::uint32_t>(std::strlen(text)), written, record, timeoutMs);
}

std::int32_t CSerial::Write(const void* data, std::uint32_t size, std::uint32_t* written,
                            CompletionRecord* record, std::uint32_t timeoutMs) {
    return RunBounded(record, timeoutMs, written, [&](SerialDevice& device, CompletionRecord& r) {
        return device.StartWrite(r, data, size);
    });
}

std::int32_t CSerial::Read(void* buffer, std::uint32_t size, std::uint32_t* read,
                           CompletionRecord* record, std::uint32_t timeoutMs) {
    return RunBounded(record, timeoutMs, read, [&](SerialDevice& device, CompletionRecord& r) {
        return device.StartRead(r, buffer, size);
    });
}

std::int32_t CSerial::WaitForEvent(CompletionRecord* record, std::uint32_t timeoutMs) {
    return RunBounded(record, timeoutMs, nullptr, [&](SerialDevice& device, CompletionRecord& r) {
        return device.StartWait(r, pendingEvents);
    });
}
