#pragma once

#include <QString>
#include <vector>

// Alignment of a report column, as written in a column description and as
// used by the in-place editor: 0 left, 1 centre, 2 right.
enum ColumnAlign : int { AlignLeft = 0, AlignCenter = 1, AlignRight = 2 };

// One column of a column description.
struct ReportColumnSpec {
    QString title; // exactly as written, leading and trailing spaces kept
    int width = 100;
    ColumnAlign align = AlignLeft;
};

// Parses "title[, width[, align]] ; title[, width[, align]] ...".
// Empty pieces between separators are dropped; a missing width is 100; an
// alignment of 1 is centre, 2 right, anything else left.
std::vector<ReportColumnSpec> ParseColumnSpec(const QString& spec);

// Decimal conversion in the manner of atoi: leading white space and one sign
// are skipped, digits are read up to the first other character, no digits give
// 0. Values beyond the int range saturate.
int ParseLeadingInt(const QString& text);
