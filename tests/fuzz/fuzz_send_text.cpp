// Arbitrary text (UTF-8, or Latin-1 where it is not) as typed into a send box: ParseHexString
// and what a Send button would put on the line in raw and in Trakbus mode. Invariants: nothing
// is written past the buffer (ASan, with the buffer's end guarded); the bytes are the text's hex
// pairs; a Trakbus message carries a valid checksum; a message that does not fit sends nothing.
#include "busproto/checksum.h"
#include "monitor/hex_text.h"

#include <QString>
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

void Require(bool condition) {
    if (!condition)
        std::abort();
}

// memcmp that takes empty ranges (whose data pointers may be null).
bool Same(const std::uint8_t* a, const std::uint8_t* b, int count) {
    return count <= 0 || std::memcmp(a, b, static_cast<std::size_t>(count)) == 0;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const QByteArray raw(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    const QString text = QString::fromUtf8(raw);
    const int capacity = size > 0 ? data[0] % 40 : 0; // small buffers reach the limit too

    // The whole parse, with room for everything, is the reference.
    std::vector<std::uint8_t> all(size + 1);
    const int total = ParseHexString(text, all.data(), static_cast<int>(all.size()));
    Require(total >= 0 && total <= static_cast<int>(size));

    std::vector<std::uint8_t> cut(static_cast<std::size_t>(capacity));
    Require(ParseHexString(text, cut.data(), capacity) == total);
    Require(Same(cut.data(), all.data(), std::min(total, capacity)));

    for (const bool trakbus : {false, true}) {
        std::vector<std::uint8_t> message(static_cast<std::size_t>(capacity));
        const int sent = BuildSendMessage(text, trakbus, message.data(), capacity);
        const int needed = trakbus ? total + 1 : total;
        if (needed > capacity) {
            Require(sent == 0);
            continue;
        }
        Require(sent == needed);
        Require(Same(message.data(), all.data(), total));
        if (trakbus)
            Require(ComputeChecksum(sent, message.data()) == 0);
    }
    return 0;
}
