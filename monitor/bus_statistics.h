#pragma once
// Figures of the bus for the status bar: messages a second, bus load, bad messages, line errors
// and bytes since "Clear". They come from every byte read from the port, whatever the display
// shows or whether it is paused, through a receive assembler of their own, so that they read
// the same in both display modes.

#include "busproto/rx_assembler.h"

#include <cstdint>
#include <deque>
#include <functional>

struct BusFigures {
    double messagesPerSecond = 0;
    double loadPercent = 0; // of the line's capacity at 10 bits per byte
    std::uint64_t messages = 0;
    std::uint64_t badChecksum = 0;
    std::uint64_t cutShort = 0; // interrupted by an opcode or a line error, or over 32 bytes
    std::uint64_t lineErrors = 0;
    std::uint64_t bytes = 0;
};

class CBusStatistics {
public:
    static constexpr int kBitsPerByte = 10; // start bit, 8 data bits, stop bit
    static constexpr std::int64_t kRateWindowMs = 1000;

    CBusStatistics();

    // Bytes read from the port, in order.
    void Receive(const std::uint8_t* data, std::uint32_t count);
    // A line error: a message under way is cut short.
    void LineError();
    // Bytes read and thrown away after a line error: they were on the bus all the same.
    void Discarded(std::uint32_t count) { m_counts.bytes += count; }
    // The port was (re)opened: no message is under way.
    void PortOpened() { m_rx.Reset(); }
    // All counts back to 0; the rates start afresh from now.
    void Clear();

    // The counts alone, without taking a rate sample.
    const BusFigures& Counts() const { return m_counts; }
    // The counts, and the rates over the last second (or since "Clear", when that is sooner),
    // at `bitRate` bit/s.
    BusFigures Sample(int bitRate);

    // Milliseconds of a steady clock; tests set their own.
    std::function<std::int64_t()> m_clock;

private:
    struct Point {
        std::int64_t ms;
        std::uint64_t bytes;
        std::uint64_t messages;
    };

    CRxAssembler m_rx;
    BusFigures m_counts;
    std::deque<Point> m_points; // oldest first; the first lies at or before the window's start
};
