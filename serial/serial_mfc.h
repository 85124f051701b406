#pragma once
// CSerialMFC: CSerialWnd addressed through a window object. A view owns a
// platform::WindowMessageReceiver, maps CSerialWnd::defaultComMessage to its handler and passes the
// receiver here (see platform/core/window_message.h).

#include "serial/serial_wnd.h"

class CSerialMFC : public CSerialWnd {
public:
    using CSerialWnd::OpenForWindow;

    CSerialMFC() = default;
    // Stops the event thread before any part of the object goes: the thread calls its slots.
    ~CSerialMFC() override;

    // As CSerialWnd::OpenForWindow with the window's handle; a null window gives a null handle.
    virtual std::int32_t OpenForWindow(const char* device, platform::WindowMessageReceiver* window,
                                       std::uint32_t messageId = 0, platform::LParam userValue = 0,
                                       std::uint32_t inQueueSize = 0,
                                       std::uint32_t outQueueSize = 0);
};
