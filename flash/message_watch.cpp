#include "flash/message_watch.h"

#include "busproto/messages.h"
#include "flash/flash_output.h"
#include "loader/precise_delay.h"

#include <cstdio>

namespace {

constexpr int kKindByte = 10;

std::uint8_t KindOf(const std::uint8_t* message, int length) {
    return length > kKindByte ? static_cast<std::uint8_t>(message[kKindByte] & 0x70) : 0xFF;
}

std::string HexBytes(const std::uint8_t* bytes, int length) {
    std::string text;
    char piece[4];
    for (int i = 0; i < length; ++i) {
        std::snprintf(piece, sizeof piece, " %02X", bytes[i]);
        text += piece;
    }
    return text;
}

} // namespace

CMessageWatch::CMessageWatch(std::string label, int verbose)
    : m_label(std::move(label)), m_verbose(verbose), m_startNs(MonotonicNowNs()) {}

void CMessageWatch::Trace(const char* what, const std::uint8_t* message, int length,
                          const std::string& note) const {
    if (m_verbose == 0) {
        return;
    }
    const double seconds = static_cast<double>(MonotonicNowNs() - m_startNs) / 1e9;
    char head[64];
    std::snprintf(head, sizeof head, "%10.6f ", seconds);
    std::string line = head + m_label + " " + what + " " + note;
    if (m_verbose > 1) {
        line += ":" + HexBytes(message, length);
    }
    Say(line);
}

void CMessageWatch::OnIplWrite(const std::uint8_t* message, int length, int attempt,
                               std::int32_t result) {
    std::string note;
    {
        std::lock_guard guard(m_mutex);
        if (attempt == 1) {
            ++m_index;
            m_wrongEchoes = 0;
        }
        m_attempts = attempt;
        m_writeResult = result;
        m_awaiting = true;
        note = "#" + std::to_string(m_index) + " " + IplMessageKindName(KindOf(message, length)) +
               " write " + std::to_string(attempt) +
               (result == 0 ? "" : " failed (" + std::to_string(result) + ")");
    }
    Trace(">", message, length, note);
}

void CMessageWatch::OnEchoCheck(const std::uint8_t* message, int length, bool matched) {
    std::string note;
    {
        std::lock_guard guard(m_mutex);
        if (!m_awaiting) {
            note = matched ? "echo of a request" : "message while a request's echo was awaited";
        } else {
            m_wrongEchoes += matched ? 0 : 1;
            note = "#" + std::to_string(m_index) + (matched ? " echo" : " wrong echo");
        }
    }
    Trace("<", message, length, note);
}

void CMessageWatch::OnIplDone(const std::uint8_t* message, int length, bool echoed) {
    const std::uint8_t kind = KindOf(message, length);
    std::lock_guard guard(m_mutex);
    m_awaiting = false;
    if (echoed) {
        ++m_echoed;
        m_lastEchoedKind = kind;
        // A message that went after all (a repeated setup) clears an earlier failure.
        m_failure.reset();
        return;
    }
    std::string reason;
    if (m_writeResult != 0) {
        reason = "writing to the port failed (serial error " + std::to_string(m_writeResult) + ")";
    } else if (m_wrongEchoes > 0) {
        reason = "wrong echo from the bus interface (" + std::to_string(m_wrongEchoes) +
                 " wrong of " + std::to_string(m_attempts) + " writes)";
    } else if (m_echoed == 0) {
        reason = "no echo from the bus interface, not to any message (" +
                 std::to_string(m_attempts) + " writes)";
    } else if (m_lastEchoedKind == IplSetup) {
        reason = "device busy: no echo since the setup message (" + std::to_string(m_attempts) +
                 " writes)";
    } else {
        reason = "no echo from the bus interface after " + std::to_string(m_attempts) + " writes";
    }
    m_failure = MessageFailure{m_index, IplMessageKindName(kind), reason};
}

std::optional<MessageFailure> CMessageWatch::Failure() const {
    std::lock_guard guard(m_mutex);
    return m_failure;
}
