#include "controls/report_columns.h"

#include <QStringList>
#include <climits>

namespace {

bool IsSpace(QChar c) {
    return c == u' ' || c == u'\t' || c == u'\n' || c == u'\v' || c == u'\f' || c == u'\r';
}

ColumnAlign AlignFromNumber(int number) {
    if (number == 1)
        return AlignCenter;
    if (number == 2)
        return AlignRight;
    return AlignLeft;
}

} // namespace

int ParseLeadingInt(const QString& text) {
    qsizetype i = 0;
    while (i < text.size() && IsSpace(text[i]))
        ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == u'+' || text[i] == u'-')) {
        negative = text[i] == u'-';
        ++i;
    }
    long long value = 0;
    for (; i < text.size() && text[i] >= u'0' && text[i] <= u'9'; ++i) {
        value = value * 10 + (text[i].unicode() - u'0');
        if (value > INT_MAX)
            return negative ? INT_MIN : INT_MAX;
    }
    return static_cast<int>(negative ? -value : value);
}

std::vector<ReportColumnSpec> ParseColumnSpec(const QString& spec) {
    std::vector<ReportColumnSpec> columns;
    for (const QString& entry : spec.split(u';', Qt::SkipEmptyParts)) {
        const QStringList fields = entry.split(u',', Qt::SkipEmptyParts);
        if (fields.isEmpty())
            continue;
        ReportColumnSpec column;
        column.title = fields[0];
        if (fields.size() > 1)
            column.width = qMax(0, ParseLeadingInt(fields[1])); // a width is never negative
        if (fields.size() > 2)
            column.align = AlignFromNumber(ParseLeadingInt(fields[2]));
        columns.push_back(column);
    }
    return columns;
}
