#pragma once
// A port over TCP: RFC 2217 (Telnet with the COM-PORT-OPTION, so that the line settings reach
// the server's serial port) or a raw byte stream whose line settings are the server's.
//
// Opening never waits: the name is resolved and the connection made while the port's service
// thread runs, within ConnectTimeoutMs, and the server must then agree to the COM-PORT-OPTION
// and answer every line-format request within NegotiationTimeoutMs. Data waits until then, so
// that no byte leaves at a rate the server has not confirmed. A refused or timed-out connection,
// one that drops, a refusal or wrong answer in the negotiation and a stream that breaks the
// Telnet framing all end the link as a device that has gone (EIO).

#include "serial/port_link.h"
#include "serial/port_names.h"
#include "serial/telnet_codec.h"

#include <chrono>
#include <memory>

namespace serial {

inline constexpr int ConnectTimeoutMs = 2000;
inline constexpr int NegotiationTimeoutMs = 2000;

class NetworkLink final : public PortLink {
public:
    // Starts resolving and connecting; returns 0 or an errno value.
    static int Open(const NetworkPort& where, std::unique_ptr<PortLink>& link);
    ~NetworkLink() override;

    int Descriptor() const override { return epoll_; }
    ssize_t Read(std::uint8_t* buffer, std::size_t size) override;
    ssize_t Write(const std::uint8_t* data, std::size_t size) override;
    int QueuedOutput() override { return static_cast<int>(out_.size()); }
    void DiscardOutput() override;
    int QueuedInput() override { return static_cast<int>(input_.size()); }
    int ReadSettings(LineSettings& settings) override;
    int WriteSettings(const LineSettings& settings) override;
    bool ReadCounts(serial_icounter_struct& counts, int& error) override;
    int Service(std::uint32_t& events, std::uint32_t& lineErrors) override;
    int ServiceDueMs() const override;
    void Release(bool lost) override;

private:
    struct Resolution;
    enum class Phase { Resolving, Connecting, Negotiating, Ready, Failed };
    using Clock = std::chrono::steady_clock;

    explicit NetworkLink(const NetworkPort& where);
    int Start();
    int StartConnect();
    int FinishConnect();
    int Receive();
    void Resume();
    int Flush();
    void SendLineFormat();
    int CheckNegotiation();
    void TakeNotifications(std::uint32_t& events, std::uint32_t& lineErrors);
    int Fail(int error);
    bool Ready() const { return phase_ == Phase::Ready; }

    NetworkPort where_;
    Phase phase_ = Phase::Resolving;
    int failure_ = 0;
    int epoll_ = -1; // the socket and the wake-ups below, as one descriptor
    int socket_ = -1;
    int resume_ = -1; // readable when the reader has made room for held-back input
    bool heldBack_ = false;
    std::shared_ptr<Resolution> resolution_;
    Clock::time_point deadline_;
    TelnetCodec codec_;
    TelnetBytes input_; // data received, not yet read
    TelnetBytes out_;   // bytes for the server, not yet sent
    bool formatWanted_ = false;
    bool formatSent_ = false;
    RemoteLineFormat format_;
};

} // namespace serial
