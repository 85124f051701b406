#include "monitor/hex_text.h"

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
