#include "serial/serial_mfc.h"

CSerialMFC::~CSerialMFC() {
    if (EventThreadRunning()) {
        CSerialWnd::Close();
    }
}

std::int32_t CSerialMFC::OpenForWindow(const char* device, platform::WindowMessageReceiver* window,
                                       std::uint32_t messageId, platform::LParam userValue,
                                       std::uint32_t inQueueSize, std::uint32_t outQueueSize) {
    const platform::WindowHandle handle =
        window != nullptr ? window->Handle() : platform::WindowHandle{};
    return CSerialWnd::OpenForWindow(device, handle, messageId, userValue, inQueueSize,
                                     outQueueSize);
}
