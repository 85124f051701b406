#pragma once
// The Telnet side of a network serial port, without any I/O: escaping of the data stream, the
// option negotiation of a client that wants binary transmission and the COM-PORT-OPTION
// (remote line settings, line-state and modem-state notifications), and the parsing of what the
// server sends.
//
// The parser is strict about the Telnet framing, because a stream that breaks it cannot be
// trusted to carry the bus bytes unchanged: IAC followed by a byte that is no command, SE
// outside a subnegotiation, IAC inside a subnegotiation followed by anything but IAC or SE, a
// subnegotiation longer than MaxSubnegotiation and a COM-PORT-OPTION answer of the wrong size
// each make Decode fail for good.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

namespace serial {

using TelnetBytes = std::vector<std::uint8_t>;

namespace telnet {
inline constexpr std::uint8_t Se = 240;
inline constexpr std::uint8_t Sb = 250;
inline constexpr std::uint8_t Will = 251;
inline constexpr std::uint8_t Wont = 252;
inline constexpr std::uint8_t Do = 253;
inline constexpr std::uint8_t Dont = 254;
inline constexpr std::uint8_t Iac = 255;

inline constexpr std::uint8_t OptionBinary = 0;
inline constexpr std::uint8_t OptionSuppressGoAhead = 3;
inline constexpr std::uint8_t OptionComPort = 44;

// COM-PORT-OPTION commands as the client sends them; the server answers with ServerOffset added.
inline constexpr std::uint8_t SetBaudRate = 1;
inline constexpr std::uint8_t SetDataSize = 2;
inline constexpr std::uint8_t SetParity = 3;
inline constexpr std::uint8_t SetStopSize = 4;
inline constexpr std::uint8_t SetControl = 5;
inline constexpr std::uint8_t NotifyLineState = 6;
inline constexpr std::uint8_t NotifyModemState = 7;
inline constexpr std::uint8_t SetLineStateMask = 10;
inline constexpr std::uint8_t SetModemStateMask = 11;
inline constexpr std::uint8_t PurgeData = 12;
inline constexpr std::uint8_t ServerOffset = 100;

// Values of SET-PARITY, SET-STOPSIZE, SET-CONTROL and PURGE-DATA.
inline constexpr std::uint8_t ParityNone = 1, ParityOdd = 2, ParityEven = 3, ParityMark = 4,
                              ParitySpace = 5;
inline constexpr std::uint8_t StopOne = 1, StopTwo = 2, StopOneHalf = 3;
inline constexpr std::uint8_t ControlNoFlow = 1, ControlXonXoff = 2, ControlHardware = 3;
inline constexpr std::uint8_t PurgeReceive = 1, PurgeTransmit = 2;

// Line-state bits.
inline constexpr std::uint8_t LineBreak = 0x10;
inline constexpr std::uint8_t LineFrameError = 0x08;
inline constexpr std::uint8_t LineParityError = 0x04;
inline constexpr std::uint8_t LineOverrun = 0x02;
// Modem-state change bits.
inline constexpr std::uint8_t ModemDeltaCd = 0x08;
inline constexpr std::uint8_t ModemRingEnded = 0x04;
inline constexpr std::uint8_t ModemDeltaDsr = 0x02;
inline constexpr std::uint8_t ModemDeltaCts = 0x01;
} // namespace telnet

// The line format in COM-PORT-OPTION values.
struct RemoteLineFormat {
    std::uint32_t bitRate = 0;
    std::uint8_t dataSize = 8;
    std::uint8_t parity = telnet::ParityNone;
    std::uint8_t stopSize = telnet::StopOne;
    std::uint8_t control = telnet::ControlNoFlow;
};

// What the server has answered to the line-format requests; fields stay empty until answered.
struct RemoteLineAnswers {
    std::optional<std::uint32_t> bitRate;
    std::optional<std::uint8_t> dataSize;
    std::optional<std::uint8_t> parity;
    std::optional<std::uint8_t> stopSize;
    std::optional<std::uint8_t> control;
};

class TelnetCodec {
public:
    static constexpr std::size_t MaxSubnegotiation = 256;

    // The client's opening: binary both ways, no go-ahead, and the COM-PORT-OPTION.
    void Begin(TelnetBytes& out);

    // Appends data bytes with every IAC doubled.
    static void EncodeData(const std::uint8_t* data, std::size_t size, TelnetBytes& out);
    // Appends one COM-PORT-OPTION command with its value (IAC in the value doubled).
    static void EncodeComPort(std::uint8_t command, const std::uint8_t* value, std::size_t size,
                              TelnetBytes& out);
    // Appends the requests for a whole line format, with the notifications wanted, and forgets
    // the answers to earlier ones.
    void RequestLineFormat(const RemoteLineFormat& format, TelnetBytes& out);

    // Takes received bytes: the data bytes among them go to `data`, answers to the server's
    // negotiation to `reply`. Returns false when the stream breaks the protocol; later calls
    // then return false and take nothing.
    bool Decode(const std::uint8_t* in, std::size_t size, TelnetBytes& data, TelnetBytes& reply);

    bool Broken() const { return broken_; }
    // The server agreed to the COM-PORT-OPTION (DO), or refused it (DONT or WONT).
    bool ComPortAccepted() const { return comPortAccepted_; }
    bool ComPortRefused() const { return comPortRefused_; }
    const RemoteLineAnswers& Answers() const { return answers_; }
    // Whether the server has answered every request of the last RequestLineFormat.
    bool LineFormatAnswered() const;

    // The line-state and modem-state bits notified since the last call; clears them.
    std::uint8_t TakeLineState();
    std::uint8_t TakeModemState();

private:
    enum class State { Data, Command, Option, Sub, SubCommand };
    struct OptionState {
        bool enabled = false;
        bool requested = false;
    };

    void Negotiate(std::uint8_t verb, std::uint8_t option, TelnetBytes& reply);
    bool FinishSubnegotiation();
    bool Fail();

    State state_ = State::Data;
    std::uint8_t verb_ = 0;
    TelnetBytes sub_;
    bool broken_ = false;
    OptionState ours_[256];   // options we perform (WILL/WONT from us, DO/DONT from the server)
    OptionState theirs_[256]; // options the server performs
    bool comPortAccepted_ = false;
    bool comPortRefused_ = false;
    RemoteLineAnswers answers_;
    std::uint8_t lineState_ = 0;
    std::uint8_t modemState_ = 0;
};

} // namespace serial
