#pragma once
// Watches the bus link's IPL messages for a program that reports on them (the command-line
// loader's failure reasons and trace): every write of a message, every message that came
// while its echo was awaited, and each message's outcome.

#include <cstdint>

class CLinkObserver {
public:
    virtual ~CLinkObserver() = default;
    // A write of an IPL message: `attempt` counts from 1, `result` is the serial library's.
    // On the thread that sends.
    virtual void OnIplWrite(const std::uint8_t* message, int length, int attempt,
                            std::int32_t result) = 0;
    // A message that arrived while an echo was awaited, and whether it was that echo. On the
    // thread that reads the port.
    virtual void OnEchoCheck(const std::uint8_t* message, int length, bool matched) = 0;
    // The IPL message is done with: echoed, or given up. On the thread that sends.
    virtual void OnIplDone(const std::uint8_t* message, int length, bool echoed) = 0;
};
