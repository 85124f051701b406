#pragma once
// Hexadecimal text typed by the user, turned into the bytes of a message to send.

#include <QStringView>
#include <cstdint>

// Walks `text` and turns every run of hexadecimal digits (either case) into one byte; any other
// character ends a run and is otherwise skipped. A run longer than two digits keeps the value of
// its last two digits. Returns how many bytes the text yields; only the first `capacity` of them
// are stored in `buffer`, so a result above `capacity` means the text does not fit.
int ParseHexString(QStringView text, std::uint8_t* buffer, int capacity);

// What a Send button puts on the line for `text`: its bytes, and in Trakbus mode the checksum
// after them. Returns the number of bytes in `buffer`, or 0 when they would need more than
// `size` bytes (a message cut short is never sent).
int BuildSendMessage(QStringView text, bool trakbus, std::uint8_t* buffer, int size);
