#include "loader/kfw_file.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <climits>
#include <cstring>
#include <sys/stat.h>

namespace kfw {
namespace {

// Field of each header key, so that parsing can walk keys and values together.
constexpr std::int32_t FirmwareHeader::*kHeaderFields[kHeaderKeyCount] = {
    &FirmwareHeader::product,    &FirmwareHeader::bootloader,   &FirmwareHeader::hardware,
    &FirmwareHeader::software,   &FirmwareHeader::options,      &FirmwareHeader::chunk,
    &FirmwareHeader::delay,      &FirmwareHeader::manufacturer, &FirmwareHeader::progBlk,
    &FirmwareHeader::eraseBlk,   &FirmwareHeader::eraseDly,     &FirmwareHeader::firstAddress,
    &FirmwareHeader::lastAddress};

// Header lines are read in pieces of at most this many characters.
constexpr int kHeaderPieceLength = 79;

bool IsSpace(int c) {
    return c != EOF && std::isspace(static_cast<unsigned char>(c));
}

// Decimal value like "%d": leading white space, optional sign, digits up to
// the first non-digit; 0 without digits. Out-of-range values are clamped.
std::int32_t ParseDecimal(std::string_view text) {
    std::size_t i = 0;
    while (i < text.size() && IsSpace(static_cast<unsigned char>(text[i])))
        ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        negative = text[i] == '-';
        ++i;
    }
    constexpr long long kMagnitudeLimit = INT_MAX + 1LL;
    long long magnitude = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i)
        magnitude = std::min(magnitude * 10 + (text[i] - '0'), kMagnitudeLimit);
    return static_cast<std::int32_t>(negative ? -magnitude
                                              : std::min<long long>(magnitude, INT_MAX));
}

// The value text of a header line: from two characters after its first ':',
// or from its second character when it has no ':'.
std::string_view ValueText(std::string_view line) {
    const std::size_t colon = line.find(':');
    const std::size_t start = colon == std::string_view::npos ? 1 : colon + 2;
    return start < line.size() ? line.substr(start) : std::string_view{};
}

void ApplyHeaderLine(std::string_view line, FirmwareHeader& header) {
    for (int i = 0; i < kHeaderKeyCount; ++i) {
        if (line.find(HeaderKeyNames[i]) != std::string_view::npos)
            header.*kHeaderFields[i] = ParseDecimal(ValueText(line));
    }
}

int HexDigitValue(int c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// Reads a hexadecimal number of 1 to maxDigits digits after optional white
// space. Returns false when there is no digit; the character that ended the
// number is left unread.
bool ReadHex(std::FILE* file, int maxDigits, std::uint32_t& value) {
    int c = std::getc(file);
    while (IsSpace(c))
        c = std::getc(file);
    value = 0;
    int digits = 0;
    while (HexDigitValue(c) >= 0) {
        value = value * 16 + static_cast<std::uint32_t>(HexDigitValue(c));
        if (++digits == maxDigits)
            return true;
        c = std::getc(file);
    }
    if (c != EOF)
        std::ungetc(c, file);
    return digits > 0;
}

// Skips to just past the next ':'. Returns false at the end of the file.
bool SkipPastColon(std::FILE* file) {
    for (int c = std::getc(file); c != EOF; c = std::getc(file)) {
        if (c == ':')
            return true;
    }
    return false;
}

// Appends bytes to the image and keeps the running checksum of the record.
class ImageWriter {
public:
    ImageWriter(std::uint8_t* image, int& length) : m_image(image), m_length(length) {}

    // False when the buffer is full: the image is then too large to be valid.
    bool Store(std::uint32_t byte) {
        if (m_length >= kImageBufferSize)
            return false;
        m_image[m_length++] = static_cast<std::uint8_t>(byte);
        m_sum += byte;
        return true;
    }
    void StartRecord() { m_sum = 0; }
    bool RecordSumIsZero() const { return (m_sum & 0xFF) == 0; }

private:
    std::uint8_t* m_image;
    int& m_length;
    std::uint32_t m_sum = 0;
};

// Data, End and Other are records; NoLength ends the records without a fault; the rest are the
// faults of an invalid record.
enum class Record { Data, End, Other, NoLength, BadDigits, BadChecksum, BadType, TooBig };

bool IsFault(Record record) {
    return record >= Record::BadDigits;
}

const char* FaultText(Record record) {
    switch (record) {
    case Record::BadChecksum:
        return "record checksum wrong";
    case Record::BadType:
        return "record of a type other than data before the end record";
    case Record::TooBig:
        return "image larger than the loader's buffer";
    default:
        return "record not hexadecimal or cut short";
    }
}

// The 1-based line of the byte at `offset`, counted from the file's start.
int LineAt(std::FILE* file, long offset) {
    std::rewind(file);
    int line = 1;
    for (long i = 0; i < offset; ++i) {
        const int c = std::getc(file);
        if (c == EOF)
            break;
        line += c == '\n';
    }
    return line;
}

// Reads and stores one record after its ':'. A ':' without a readable length
// ends the records without a fault.
Record ReadRecord(std::FILE* file, ImageWriter& out, bool afterEnd) {
    std::uint32_t length = 0;
    if (!ReadHex(file, 2, length))
        return Record::NoLength;
    out.StartRecord();
    if (!out.Store(length))
        return Record::TooBig;
    if (length == 0)
        return Record::End;
    std::uint32_t address = 0;
    if (!ReadHex(file, 6, address))
        return Record::BadDigits;
    if (!out.Store(address >> 16) || !out.Store(address >> 8) || !out.Store(address))
        return Record::TooBig;
    std::uint32_t type = 0;
    if (!ReadHex(file, 2, type))
        return Record::BadDigits;
    if (!out.Store(type))
        return Record::TooBig;
    // Only data records carry bytes; any other type is stored without its
    // data and checksum. Before the end record that would shift every later
    // record the engine walks; after it the engine never gets there.
    if (type != 0)
        return afterEnd ? Record::Other : Record::BadType;
    for (std::uint32_t i = 0; i < length; ++i) {
        std::uint32_t byte = 0;
        if (!ReadHex(file, 2, byte))
            return Record::BadDigits;
        if (!out.Store(byte))
            return Record::TooBig;
    }
    std::uint32_t checksum = 0;
    if (!ReadHex(file, 2, checksum))
        return Record::BadDigits;
    if (!out.Store(checksum))
        return Record::TooBig;
    if (!out.RecordSumIsZero())
        return Record::BadChecksum;
    return Record::Data;
}

bool IsRegularFile(std::FILE* file) {
    struct stat info {};
    return fstat(fileno(file), &info) == 0 && S_ISREG(info.st_mode);
}

bool IsDirectory(std::FILE* file) {
    struct stat info {};
    return fstat(fileno(file), &info) == 0 && S_ISDIR(info.st_mode);
}

} // namespace

std::int32_t& HeaderValue(FirmwareHeader& header, int index) {
    return header.*kHeaderFields[index];
}

std::int32_t HeaderValue(const FirmwareHeader& header, int index) {
    return header.*kHeaderFields[index];
}

std::string FormatHeaderInfo(const FirmwareHeader& h) {
    char text[256];
    if (h.manufacturer != 0) {
        std::snprintf(text, sizeof text,
                      " Mfg = %d  \tProduct = %d\n\r HWVer = %d\tSWVer = %d\n\r BootVer = %d\t"
                      "Chunk = %d\n\r TxDelay = %d\tOptions = %d",
                      h.manufacturer, h.product, h.hardware, h.software, h.bootloader, h.chunk,
                      h.delay, h.options);
    } else {
        std::snprintf(text, sizeof text,
                      " Mfg = Kestrom\tProduct = %d\n\r HWVer = %d\tSWVer = %d\n\r BootVer = %d\t"
                      "Chunk = %d\n\r TxDelay = %d\tOptions = %d",
                      h.product, h.hardware, h.software, h.bootloader, h.chunk, h.delay, h.options);
    }
    return text;
}

int ParseFirmwareHeader(std::FILE* file, FirmwareHeader& header, std::string& info) {
    header = FirmwareHeader{};
    char piece[kHeaderPieceLength + 1];
    for (;;) {
        const long lineStart = std::ftell(file);
        if (!std::fgets(piece, sizeof piece, file))
            break; // end of file without a record line
        const std::string_view line(piece, std::strlen(piece));
        ApplyHeaderLine(line, header);
        if (!line.empty() && line[0] == ':') {
            std::fseek(file, lineStart, SEEK_SET);
            break;
        }
    }
    info = FormatHeaderInfo(header);
    return 1;
}

int LoadFirmwareStream(std::FILE* file, const FirmwareSink& sink, LoadProblem* problem) {
    sink.imageLength = 0;
    ParseFirmwareHeader(file, sink.header, sink.info);
    if (!sink.image)
        return 1;
    ImageWriter out(sink.image, sink.imageLength);
    bool sawEnd = false;
    Record record = Record::Data;
    long recordStart = 0;
    while (record != Record::NoLength && !IsFault(record) && SkipPastColon(file)) {
        recordStart = std::ftell(file) - 1;
        record = ReadRecord(file, out, sawEnd);
        sawEnd = sawEnd || record == Record::End;
    }
    // Without its end record the engine would walk past the image.
    if (IsFault(record) || !sawEnd) {
        sink.imageLength = 0;
        if (problem) {
            problem->reason = IsFault(record) ? FaultText(record) : "no end record";
            problem->line = IsFault(record) ? LineAt(file, recordStart) : 0;
        }
        return 1;
    }
    return 0;
}

int LoadFirmwareFile(const std::string& path, const FirmwareSink& sink, LoadProblem* problem) {
    sink.imageLength = 0;
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (!file) {
        if (problem)
            *problem = {std::strerror(errno), 0, true};
        return 1;
    }
    // Directories, devices and pipes are not firmware files (and some never end).
    if (!IsRegularFile(file)) {
        if (problem)
            *problem = {IsDirectory(file) ? std::strerror(EISDIR) : "not a regular file", 0, true};
        std::fclose(file);
        return 1;
    }
    const int result = LoadFirmwareStream(file, sink, problem);
    std::fclose(file);
    return result;
}

} // namespace kfw
