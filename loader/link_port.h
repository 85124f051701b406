#pragma once
// The bus link's serial port. Its event thread hands every batch of events to the link first,
// which reads and recognises the received bytes right there, so that a confirmed send does not
// wait for the window's thread; the window is notified only when the link has something for it.

#include "serial/serial_mfc.h"

#include <cstdint>
#include <functional>

class CLinkPort : public CSerialMFC {
public:
    // Called on the event thread with the event bits; returns whether to notify the window.
    using EventHandler = std::function<bool(std::uint32_t events)>;

    explicit CLinkPort(EventHandler handler) : m_handler(std::move(handler)) {}
    // Closes the port here: the event thread calls the handler, which goes with this object.
    ~CLinkPort() override;

protected:
    bool DeliverEvent(std::uint32_t events, std::uint32_t errors) override;

private:
    EventHandler m_handler;
};
