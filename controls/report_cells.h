#pragma once

#include <QDateTime>
#include <QLocale>
#include <QString>
#include <optional>

// Hexadecimal cell text: two digits below 256, four up to 0xFFFF, eight above.
QString FormatCellHex(quint32 value);

// Reads a cell's text as "%x" does: leading white space, an optional sign and
// an optional 0x prefix, then hexadecimal digits. 0 when the text does not
// start with a hexadecimal number; values beyond 32 bits saturate.
quint32 ParseCellHex(const QString& text);

// What a cell's text is, for sorting: each reading is present only when the
// whole text has that form.
struct CellSortKey {
    QString text;
    std::optional<QString> hexDigits; // normalised: lower case, no leading zeros
    std::optional<double> real;
    std::optional<QDateTime> date;
};

CellSortKey MakeCellSortKey(const QString& text, const QLocale& locale = QLocale());

// -1, 0 or 1 by the first rule that both keys satisfy: whole hexadecimal
// numbers, then real numbers (optionally followed by one "%"), then dates in
// the locale, then the texts character by character.
int CompareCellSortKeys(const CellSortKey& a, const CellSortKey& b);

inline int CompareCellTexts(const QString& a, const QString& b, const QLocale& locale = QLocale()) {
    return CompareCellSortKeys(MakeCellSortKey(a, locale), MakeCellSortKey(b, locale));
}
