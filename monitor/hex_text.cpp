#include "monitor/hex_text.h"
#include "busproto/checksum.h"

namespace {

int HexDigitValue(char16_t c) {
    if (c >= u'0' && c <= u'9')
        return c - u'0';
    if (c >= u'a' && c <= u'f')
        return c - u'a' + 10;
    if (c >= u'A' && c <= u'F')
        return c - u'A' + 10;
    return -1;
}

} // namespace

int ParseHexString(QStringView text, std::uint8_t* buffer, int capacity) {
    int count = 0;
    bool runOpen = false;
    std::uint8_t run = 0;
    auto closeRun = [&] {
        if (count < capacity)
            buffer[count] = run;
        ++count;
        runOpen = false;
    };
    for (QChar ch : text) {
        const int digit = HexDigitValue(ch.unicode());
        if (digit >= 0) {
            run = runOpen ? static_cast<std::uint8_t>(run * 16 + digit)
                          : static_cast<std::uint8_t>(digit);
            runOpen = true;
        } else if (runOpen) {
            closeRun();
        }
    }
    if (runOpen)
        closeRun();
    return count;
}

int BuildSendMessage(QStringView text, bool trakbus, std::uint8_t* buffer, int size) {
    // In Trakbus mode the checksum takes the last byte of the buffer.
    const int capacity = trakbus ? size - 1 : size;
    if (capacity < 0)
        return 0;
    int count = ParseHexString(text, buffer, capacity);
    if (count > capacity)
        return 0;
    if (trakbus) {
        buffer[count] = ComputeChecksum(count, buffer);
        ++count;
    }
    return count;
}
