#include "flash/flash_output.h"

#include <QJsonDocument>

#include <csignal>
#include <cstdio>
#include <sys/ioctl.h>
#include <unistd.h>

void IgnoreBrokenPipes() {
    std::signal(SIGPIPE, SIG_IGN);
}

void Say(const std::string& text) {
    std::fprintf(stderr, "trakbus-flash: %s\n", text.c_str());
}

void PrintLine(const std::string& text) {
    std::fprintf(stdout, "%s\n", text.c_str());
    std::fflush(stdout);
}

void PrintJson(const QJsonObject& object) {
    PrintLine(QJsonDocument(object).toJson(QJsonDocument::Compact).toStdString());
}

bool ErrorsOnTerminal() {
    return isatty(STDERR_FILENO) == 1;
}

int TerminalColumns() {
    winsize size{};
    if (ioctl(STDERR_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0) {
        return size.ws_col;
    }
    return 80;
}

std::string SerialText(std::uint32_t serial, bool thirtyTwoBits) {
    char text[16];
    std::snprintf(text, sizeof text, thirtyTwoBits || serial > 0xFFFFFF ? "%08X" : "%06X", serial);
    return text;
}
