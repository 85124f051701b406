#pragma once
// What trakbus-flash writes. Messages go to stderr as "trakbus-flash: ..." lines, results as
// lines of stdout, JSON objects one per line. A closed pipe never ends the program: SIGPIPE is
// ignored, and what cannot be written is dropped.

#include <QJsonObject>

#include <cstdint>
#include <string>

// Ignores SIGPIPE, so that a reader that went away only loses the output.
void IgnoreBrokenPipes();

// "trakbus-flash: <text>" on stderr.
void Say(const std::string& text);
// A line of stdout, flushed.
void PrintLine(const std::string& text);
// One JSON object as one line of stdout, flushed.
void PrintJson(const QJsonObject& object);

// Whether stderr is a terminal, and its width in columns (80 when it cannot be told).
bool ErrorsOnTerminal();
int TerminalColumns();

// "019234": six hexadecimal digits for a 24-bit serial number, eight for a 32-bit one.
std::string SerialText(std::uint32_t serial, bool thirtyTwoBits = false);
