#pragma once
// CSerialWnd: a serial port whose events are posted as a window message to a target window.
//
// The message's first parameter holds the events in its low 16 bits and the line-error flags in
// its high 16 bits; the second parameter is the opener's user value.

#include "platform/core/window_message.h"
#include "serial/serial_ex.h"

class CSerialWnd : public CSerialEx {
public:
    // The number registered under "CSerialWnd_DefaultComMsg" when the program starts.
    static const std::uint32_t defaultComMessage;

    CSerialWnd() = default;
    ~CSerialWnd() override;

    // Opens the port and starts the event thread; messageId 0 posts defaultComMessage.
    // A null window is accepted (nothing can then be delivered).
    virtual std::int32_t OpenForWindow(const char* device, platform::WindowHandle window,
                                       std::uint32_t messageId = 0, platform::LParam userValue = 0,
                                       std::uint32_t inQueueSize = 0,
                                       std::uint32_t outQueueSize = 0);
    std::int32_t Close() override;

protected:
    bool DeliverEvent(std::uint32_t events, std::uint32_t errors) override;

    std::atomic<platform::WindowHandle> targetWindow{};
    std::atomic<std::uint32_t> messageId{0};
    std::atomic<platform::LParam> userValue{0};
};
