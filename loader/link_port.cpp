#include "loader/link_port.h"

CLinkPort::~CLinkPort() {
    CLinkPort::Close();
}

bool CLinkPort::DeliverEvent(std::uint32_t events, std::uint32_t errors) {
    if (!m_handler(events)) {
        return true;
    }
    return CSerialMFC::DeliverEvent(events, errors);
}
