#include "serial/telnet_codec.h"

namespace serial {
namespace {

using namespace telnet;

constexpr std::uint8_t LineErrorsWanted =
    LineBreak | LineFrameError | LineParityError | LineOverrun;
constexpr std::uint8_t ModemChangesWanted =
    ModemDeltaCd | ModemRingEnded | ModemDeltaDsr | ModemDeltaCts;

void Put(TelnetBytes& out, std::initializer_list<std::uint8_t> bytes) {
    out.insert(out.end(), bytes);
}

// Options the server may ask us to perform.
bool WeOffer(std::uint8_t option) {
    return option == OptionBinary || option == OptionSuppressGoAhead || option == OptionComPort;
}

// Options the server may perform.
bool TheyOffer(std::uint8_t option) {
    return option == OptionBinary || option == OptionSuppressGoAhead;
}

} // namespace

void TelnetCodec::Begin(TelnetBytes& out) {
    for (std::uint8_t option : {OptionBinary, OptionSuppressGoAhead}) {
        Put(out, {Iac, Will, option, Iac, Do, option});
        ours_[option].requested = true;
        theirs_[option].requested = true;
    }
    Put(out, {Iac, Will, OptionComPort});
    ours_[OptionComPort].requested = true;
}

void TelnetCodec::EncodeData(const std::uint8_t* data, std::size_t size, TelnetBytes& out) {
    out.reserve(out.size() + size + size / 16);
    for (std::size_t i = 0; i < size; ++i) {
        out.push_back(data[i]);
        if (data[i] == Iac) {
            out.push_back(Iac);
        }
    }
}

void TelnetCodec::EncodeComPort(std::uint8_t command, const std::uint8_t* value, std::size_t size,
                                TelnetBytes& out) {
    Put(out, {Iac, Sb, OptionComPort, command});
    EncodeData(value, size, out);
    Put(out, {Iac, Se});
}

void TelnetCodec::RequestLineFormat(const RemoteLineFormat& format, TelnetBytes& out) {
    answers_ = {};
    const std::uint8_t rate[4] = {static_cast<std::uint8_t>(format.bitRate >> 24),
                                  static_cast<std::uint8_t>(format.bitRate >> 16),
                                  static_cast<std::uint8_t>(format.bitRate >> 8),
                                  static_cast<std::uint8_t>(format.bitRate)};
    EncodeComPort(SetBaudRate, rate, sizeof rate, out);
    EncodeComPort(SetDataSize, &format.dataSize, 1, out);
    EncodeComPort(SetParity, &format.parity, 1, out);
    EncodeComPort(SetStopSize, &format.stopSize, 1, out);
    EncodeComPort(SetControl, &format.control, 1, out);
    EncodeComPort(SetLineStateMask, &LineErrorsWanted, 1, out);
    EncodeComPort(SetModemStateMask, &ModemChangesWanted, 1, out);
}

bool TelnetCodec::LineFormatAnswered() const {
    return answers_.bitRate && answers_.dataSize && answers_.parity && answers_.stopSize &&
           answers_.control;
}

std::uint8_t TelnetCodec::TakeLineState() {
    const std::uint8_t state = lineState_;
    lineState_ = 0;
    return state;
}

std::uint8_t TelnetCodec::TakeModemState() {
    const std::uint8_t state = modemState_;
    modemState_ = 0;
    return state;
}

bool TelnetCodec::Fail() {
    broken_ = true;
    sub_.clear();
    return false;
}

bool TelnetCodec::Decode(const std::uint8_t* in, std::size_t size, TelnetBytes& data,
                         TelnetBytes& reply) {
    for (std::size_t i = 0; i < size && !broken_; ++i) {
        const std::uint8_t byte = in[i];
        switch (state_) {
        case State::Data:
            if (byte == Iac) {
                state_ = State::Command;
            } else {
                data.push_back(byte);
            }
            break;
        case State::Command:
            state_ = State::Data;
            if (byte == Iac) {
                data.push_back(Iac);
            } else if (byte >= Will && byte <= Dont) {
                verb_ = byte;
                state_ = State::Option;
            } else if (byte == Sb) {
                sub_.clear();
                state_ = State::Sub;
            } else if (byte <= Se) {
                return Fail(); // not a command, or the end of a subnegotiation never begun
            }                  // NOP, data mark, break, go ahead and the like carry nothing for us
            break;
        case State::Option:
            Negotiate(verb_, byte, reply);
            state_ = State::Data;
            break;
        case State::Sub:
            if (byte == Iac) {
                state_ = State::SubCommand;
            } else if (sub_.size() >= MaxSubnegotiation) {
                return Fail();
            } else {
                sub_.push_back(byte);
            }
            break;
        case State::SubCommand:
            if (byte == Iac && sub_.size() < MaxSubnegotiation) {
                sub_.push_back(Iac);
                state_ = State::Sub;
            } else if (byte == Se) {
                if (!FinishSubnegotiation()) {
                    return Fail();
                }
                state_ = State::Data;
            } else {
                return Fail();
            }
            break;
        }
    }
    return !broken_;
}

// Answers only what changes an option's state, so that two parties never answer each other
// forever.
void TelnetCodec::Negotiate(std::uint8_t verb, std::uint8_t option, TelnetBytes& reply) {
    OptionState& ours = ours_[option];
    OptionState& theirs = theirs_[option];
    switch (verb) {
    case Do:
        if (!WeOffer(option)) {
            Put(reply, {Iac, Wont, option});
            break;
        }
        if (!ours.enabled && !ours.requested) {
            Put(reply, {Iac, Will, option});
        }
        ours.enabled = true;
        ours.requested = false;
        if (option == OptionComPort) {
            comPortAccepted_ = true;
            comPortRefused_ = false;
        }
        break;
    case Dont:
        if (ours.enabled) {
            Put(reply, {Iac, Wont, option});
        }
        ours.enabled = false;
        ours.requested = false;
        if (option == OptionComPort) {
            comPortAccepted_ = false;
            comPortRefused_ = true;
        }
        break;
    case Will:
        if (!TheyOffer(option)) {
            Put(reply, {Iac, Dont, option});
            break;
        }
        if (!theirs.enabled && !theirs.requested) {
            Put(reply, {Iac, Do, option});
        }
        theirs.enabled = true;
        theirs.requested = false;
        break;
    case Wont:
        if (theirs.enabled) {
            Put(reply, {Iac, Dont, option});
        }
        theirs.enabled = false;
        theirs.requested = false;
        break;
    default:
        break;
    }
}

bool TelnetCodec::FinishSubnegotiation() {
    if (sub_.empty()) {
        return false;
    }
    if (sub_[0] != OptionComPort) {
        return true; // another option's business
    }
    if (sub_.size() < 2) {
        return false;
    }
    const std::uint8_t command = sub_[1];
    const std::uint8_t* value = sub_.data() + 2;
    const std::size_t size = sub_.size() - 2;
    if (command < ServerOffset) {
        return true; // a server asking us as if we were one: nothing to answer
    }
    switch (command - ServerOffset) {
    case SetBaudRate:
        if (size != 4) {
            return false;
        }
        answers_.bitRate = std::uint32_t{value[0]} << 24 | std::uint32_t{value[1]} << 16 |
                           std::uint32_t{value[2]} << 8 | value[3];
        return true;
    case SetDataSize:
    case SetParity:
    case SetStopSize:
    case SetControl:
    case NotifyLineState:
    case NotifyModemState:
        break;
    default:
        return true; // signature, masks, purge and flow-control answers change nothing here
    }
    if (size != 1) {
        return false;
    }
    switch (command - ServerOffset) {
    case SetDataSize:
        answers_.dataSize = value[0];
        break;
    case SetParity:
        answers_.parity = value[0];
        break;
    case SetStopSize:
        answers_.stopSize = value[0];
        break;
    case SetControl:
        // The same command also reports break, DTR and RTS; only flow-control values answer ours.
        if (value[0] >= ControlNoFlow && value[0] <= ControlHardware) {
            answers_.control = value[0];
        }
        break;
    case NotifyLineState:
        lineState_ |= value[0];
        break;
    case NotifyModemState:
        modemState_ |= value[0];
        break;
    }
    return true;
}

} // namespace serial
