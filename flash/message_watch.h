#pragma once
// Watches the IPL messages of one port: counts them, traces them on stderr when asked, and
// keeps why the last message failed, when it did.

#include "loader/link_observer.h"

#include <cstdint>
#include <mutex>
#include <optional>
#include <string>

struct MessageFailure {
    int index = 0;      // from 0, the first IplSetup
    std::string kind;   // "IplData"
    std::string reason; // "no echo from the bus interface after 6 writes"
};

class CMessageWatch final : public CLinkObserver {
public:
    // `label` starts every trace line; `verbose` 1 traces messages, 2 their bytes as well.
    CMessageWatch(std::string label, int verbose);

    void OnIplWrite(const std::uint8_t* message, int length, int attempt,
                    std::int32_t result) override;
    void OnEchoCheck(const std::uint8_t* message, int length, bool matched) override;
    void OnIplDone(const std::uint8_t* message, int length, bool echoed) override;

    // A trace line of the program's own, such as a request it wrote.
    void Note(const std::string& text) const { Trace(">", nullptr, 0, text); }

    std::optional<MessageFailure> Failure() const;

private:
    void Trace(const char* what, const std::uint8_t* message, int length,
               const std::string& note) const;

    std::string m_label;
    int m_verbose;
    std::int64_t m_startNs;

    mutable std::mutex m_mutex;
    int m_index = -1; // of the message under way
    int m_attempts = 0;
    std::int32_t m_writeResult = 0;
    int m_wrongEchoes = 0; // of the message under way
    bool m_awaiting = false;
    int m_echoed = 0; // messages echoed so far
    std::uint8_t m_lastEchoedKind = 0xFF;
    std::optional<MessageFailure> m_failure;
};
