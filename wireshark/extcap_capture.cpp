#include "wireshark/extcap_capture.h"

#include "busproto/frame_splitter.h"
#include "monitor/pcap_writer.h"
#include "serial/port_failure.h"
#include "serial/serial.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace {

volatile std::sig_atomic_t g_stop = 0;

void OnStopSignal(int) {
    g_stop = 1;
}

void CatchStopSignals() {
    struct sigaction action {};
    action.sa_handler = OnStopSignal;
    sigemptyset(&action.sa_mask);
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGINT, &action, nullptr);
    // A closed pipe is seen as a failed write, not as a signal that ends the program at once.
    std::signal(SIGPIPE, SIG_IGN);
}

std::int64_t NowUs() {
    using namespace std::chrono;
    return duration_cast<microseconds>(system_clock::now().time_since_epoch()).count();
}

constexpr std::uint32_t kReadSize = 1024;
constexpr std::uint32_t kWaitMs = 200; // how soon a stop request is seen

int Fail(const ExtcapOptions& options, const char* what) {
    std::fprintf(stderr, "trakbus-extcap: %s: %s\n", options.interface.c_str(), what);
    return ExtcapFailed;
}

} // namespace

int RunExtcapCapture(const ExtcapOptions& options) {
    CatchStopSignals();
    CSerial port;
    const std::string device = "\\\\.\\" + options.interface;
    if (port.Open(device.c_str(), 0, 0, true) != SerialOk) {
        const int reason = port.GetLastOpenReason();
        const char* text = serial::PortFailureText(reason);
        return Fail(options, text != nullptr ? text
                             : port.GetLastError() == SerialErrFileNotFound
                                 ? "no such port"
                                 : std::strerror(reason != 0 ? reason : EIO));
    }
    if (port.SetLineFormat(static_cast<std::uint32_t>(options.bitRate), 8, ParityNone,
                           StopBitsOne) != SerialOk ||
        port.SetFlowControl(FlowNone) != SerialOk ||
        port.SetReadMode(ReadNonBlocking) != SerialOk ||
        port.SetEventMask(EvRxChar | EvError | EvBreak) != SerialOk)
        return Fail(options, "the line cannot be set up");

    const int fd = open(options.fifo.c_str(), O_WRONLY | O_CLOEXEC);
    CPcapWriter writer;
    if (fd < 0 || !writer.OpenDescriptor(fd) || !writer.Flush()) {
        const std::string what = options.fifo + ": " + std::strerror(fd < 0 ? errno : EPIPE);
        return Fail(options, what.c_str());
    }
    std::int64_t readTimeUs = 0; // when the bytes of the frame's end were read
    bool written = true;
    CFrameSplitter splitter([&](const std::uint8_t* bytes, int count, FrameEnd) {
        written = written && writer.WritePacket(readTimeUs, bytes, count);
    });
    std::uint8_t buffer[kReadSize];
    while (!g_stop && written) {
        const std::int32_t wait = port.WaitForEvent(nullptr, kWaitMs);
        if (wait == SerialErrTimeout)
            continue;
        if (wait != SerialOk)
            return Fail(options, "the port has gone");
        const std::uint32_t events = port.TakeEvents();
        if ((events & (EvError | EvBreak)) != 0)
            splitter.LineError();
        std::uint32_t count = 0;
        do {
            if (port.Read(buffer, kReadSize, &count, nullptr, kWaitMs) != SerialOk)
                return Fail(options, "the port has gone");
            readTimeUs = NowUs();
            splitter.Push(buffer, count);
        } while (count == kReadSize && written);
        written = written && writer.Flush();
    }
    // Ended by Wireshark: by a signal, or by closing its end of the pipe.
    return ExtcapDone;
}
