#include "controls/report_cells.h"

#include <charconv>
#include <cmath>

namespace {

bool IsSpace(QChar c) {
    return c == u' ' || c == u'\t' || c == u'\n' || c == u'\v' || c == u'\f' || c == u'\r';
}

int HexDigitValue(QChar c) {
    const char16_t u = c.unicode();
    if (u >= u'0' && u <= u'9')
        return u - u'0';
    if (u >= u'a' && u <= u'f')
        return u - u'a' + 10;
    if (u >= u'A' && u <= u'F')
        return u - u'A' + 10;
    return -1;
}

qsizetype SkipSpaces(const QString& text, qsizetype i) {
    while (i < text.size() && IsSpace(text[i]))
        ++i;
    return i;
}

// Skips a "0x" prefix when a hexadecimal digit follows it.
qsizetype SkipHexPrefix(const QString& text, qsizetype i) {
    if (i + 2 < text.size() && text[i] == u'0' && (text[i + 1] == u'x' || text[i + 1] == u'X') &&
        HexDigitValue(text[i + 2]) >= 0)
        return i + 2;
    return i;
}

// The whole text as an unsigned hexadecimal number, as digits without leading
// zeros, so that numbers of any length compare exactly. A sign is refused: a
// negative number is not a hexadecimal number for sorting.
std::optional<QString> WholeHexDigits(const QString& text) {
    qsizetype i = SkipHexPrefix(text, SkipSpaces(text, 0));
    if (i >= text.size())
        return std::nullopt;
    QString digits;
    for (; i < text.size(); ++i) {
        if (HexDigitValue(text[i]) < 0)
            return std::nullopt;
        if (!digits.isEmpty() || text[i] != u'0')
            digits.append(text[i].toLower());
    }
    return digits.isEmpty() ? QStringLiteral("0") : digits;
}

// The whole text as a decimal real number, optionally followed by one "%".
// Read independently of the process locale; infinities and NaN are refused.
std::optional<double> WholeReal(const QString& text) {
    const QByteArray bytes = text.toUtf8();
    const char* first = bytes.constData();
    const char* last = first + bytes.size();
    while (first < last && IsSpace(QChar(static_cast<char16_t>(*first))))
        ++first;
    if (first < last && *first == '+' && first + 1 < last && first[1] != '-')
        ++first;
    double value = 0;
    const auto [end, error] = std::from_chars(first, last, value, std::chars_format::general);
    if (error != std::errc() || !std::isfinite(value))
        return std::nullopt;
    if (end == last || (end + 1 == last && *end == '%'))
        return value;
    return std::nullopt;
}

std::optional<QDateTime> WholeDate(const QString& text, const QLocale& locale) {
    bool hasDigit = false;
    for (QChar c : text)
        hasDigit = hasDigit || c.isDigit();
    if (!hasDigit) // every date has a day number; spares the slow parse
        return std::nullopt;
    for (QLocale::FormatType format : {QLocale::ShortFormat, QLocale::LongFormat}) {
        const QDateTime dateTime = locale.toDateTime(text, format);
        if (dateTime.isValid())
            return dateTime;
        const QDate date = locale.toDate(text, format);
        if (date.isValid())
            return date.startOfDay();
    }
    return std::nullopt;
}

template <typename T> int Order(const T& a, const T& b) {
    return a < b ? -1 : (b < a ? 1 : 0);
}

} // namespace

QString FormatCellHex(quint32 value) {
    if (value < 0x100)
        return QString::asprintf("%2.2X", value);
    if (value > 0xFFFF)
        return QString::asprintf("%8.8X", value);
    return QString::asprintf("%4.4X", value);
}

quint32 ParseCellHex(const QString& text) {
    qsizetype i = SkipSpaces(text, 0);
    bool negative = false;
    if (i < text.size() && (text[i] == u'+' || text[i] == u'-')) {
        negative = text[i] == u'-';
        ++i;
    }
    i = SkipHexPrefix(text, i);
    quint64 value = 0;
    for (; i < text.size() && HexDigitValue(text[i]) >= 0; ++i)
        value =
            qMin<quint64>(value * 16 + static_cast<quint64>(HexDigitValue(text[i])), 0xFFFFFFFFull);
    const auto result = static_cast<quint32>(value);
    return negative ? 0u - result : result;
}

CellSortKey MakeCellSortKey(const QString& text, const QLocale& locale) {
    CellSortKey key;
    key.text = text;
    key.hexDigits = WholeHexDigits(text);
    key.real = WholeReal(text);
    key.date = WholeDate(text, locale);
    return key;
}

int CompareCellSortKeys(const CellSortKey& a, const CellSortKey& b) {
    if (a.hexDigits && b.hexDigits) {
        if (a.hexDigits->size() != b.hexDigits->size())
            return Order(a.hexDigits->size(), b.hexDigits->size());
        return Order(*a.hexDigits, *b.hexDigits);
    }
    if (a.real && b.real)
        return Order(*a.real, *b.real);
    if (a.date && b.date)
        return Order(*a.date, *b.date);
    const int order = QString::compare(a.text, b.text, Qt::CaseSensitive);
    return order < 0 ? -1 : (order > 0 ? 1 : 0);
}
