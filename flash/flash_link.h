#pragma once
// The bus link of one port: the loader's document with the port and bit rate chosen for this
// run, a receiver that hands the port's notifications to it on this thread, and the watch on
// its messages that says why a message failed.

#include "flash/flash_options.h"
#include "flash/message_watch.h"
#include "loader/kelvload_doc.h"
#include "platform/core/window_message.h"
#include "serial/port_info.h"

#include <string>
#include <vector>

// A port or bit rate and where it came from ("--port", "TRAKBUS_PORT", "kelvload's settings").
struct PortChoice {
    std::string name;
    std::string source;
};
struct RateChoice {
    int index = 0;
    std::string source;
};

// The ports of the run: the command line's, else TRAKBUS_PORT, else kelvload's stored port.
// False with `error` set when there is none or TRAKBUS_RATE is not a bit rate.
bool ChoosePorts(const FlashOptions& options, std::vector<PortChoice>& ports, RateChoice& rate,
                 std::string& error);

// "port COM5 = /dev/ttyUSB0 (usb-Maker_Model_A1-if00-port0) from --port, 16457 bit/s from
// kelvload's settings"
std::string DescribeChoice(const PortChoice& port, const RateChoice& rate);

class CFlashLink {
public:
    CFlashLink(const PortChoice& port, const RateChoice& rate, int verbose);
    ~CFlashLink();
    CFlashLink(const CFlashLink&) = delete;
    CFlashLink& operator=(const CFlashLink&) = delete;

    const std::string& PortName() const { return m_port.name; }
    serial::PortInfo Describe() const { return serial::DescribePort(m_port.name); }
    std::uint32_t BitRate() const;
    // Whether the port's device is there at all.
    bool PortPresent() const;
    bool OpenPort();
    // Why the port could not be opened or written, as a user reads it.
    std::string PortProblem() const;
    // Whether the port went away under a run: the device is gone, or writing found it gone.
    bool PortLost() const;

    CKelvloadDoc m_doc;
    platform::WindowMessageReceiver m_notify;
    CMessageWatch m_watch;

private:
    PortChoice m_port;
};

// Runs this thread's events for `ms` (forever when below 0), or until `done` holds.
void RunEvents(int ms, const std::function<bool()>& done = {});
