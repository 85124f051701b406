#pragma once
// Draws lines of printable ASCII in a fixed-pitch font glyph by glyph. QPainter::drawText
// shapes its text on every call, and the traffic list repaints dozens of rows many times a
// second at full bus load; here each character maps straight to its glyph at the next pitch
// step. A font that is not truly fixed-pitch, or lacks a glyph, and any text beyond printable
// ASCII, go through drawText as before.

#include <QFont>
#include <QList>
#include <QPointF>
#include <QRawFont>
#include <array>
#include <string_view>

class QPainter;

class CFixedPitchText {
public:
    void SetFont(const QFont& font);
    const QFont& Font() const { return m_font; }

    // The width of `text` in pixels as Draw draws it.
    int Width(std::string_view text) const;
    // Draws `text` with its baseline starting at (x, baseline), in the painter's pen.
    void Draw(QPainter& painter, int x, int baseline, std::string_view text);

private:
    static constexpr char kFirst = ' ';
    static constexpr char kLast = '~';

    bool Printable(std::string_view text) const;

    QFont m_font;
    QRawFont m_raw;
    bool m_fixed = false;
    qreal m_pitch = 0;
    std::array<quint32, kLast - kFirst + 1> m_glyphs{};
    QList<quint32> m_runGlyphs; // reused from row to row
    QList<QPointF> m_runPositions;
};
