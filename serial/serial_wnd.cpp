#include "serial/serial_wnd.h"

const std::uint32_t CSerialWnd::defaultComMessage =
    platform::RegisterWindowMessage("CSerialWnd_DefaultComMsg");

CSerialWnd::~CSerialWnd() {
    if (EventThreadRunning()) {
        CSerialWnd::Close();
    }
}

std::int32_t CSerialWnd::OpenForWindow(const char* device, platform::WindowHandle window,
                                       std::uint32_t messageId, platform::LParam userValue,
                                       std::uint32_t inQueueSize, std::uint32_t outQueueSize) {
    if (std::int32_t result = CSerialEx::Open(device, inQueueSize, outQueueSize, false)) {
        return result;
    }
    targetWindow.store(window);
    this->messageId.store(messageId != 0 ? messageId : defaultComMessage);
    this->userValue.store(userValue);
    if (std::int32_t error = StartEventThread()) {
        Close();
        return Store(error);
    }
    return Store(SerialOk);
}

std::int32_t CSerialWnd::Close() {
    targetWindow.store(platform::WindowHandle{});
    messageId.store(0);
    return CSerialEx::Close();
}

bool CSerialWnd::DeliverEvent(std::uint32_t events, std::uint32_t errors) {
    const platform::WParam packed = (errors & 0xFFFF) << 16 | (events & 0xFFFF);
    return platform::PostMessage(targetWindow.load(), messageId.load(), packed, userValue.load());
}
