#include "monitor/traffic/fixed_pitch_text.h"

#include <QFontInfo>
#include <QFontMetrics>
#include <QGlyphRun>
#include <QPainter>

void CFixedPitchText::SetFont(const QFont& font) {
    m_font = font;
    m_raw = QRawFont::fromFont(font);
    m_fixed = false;
    if (!m_raw.isValid() || !QFontInfo(font).fixedPitch())
        return;
    QString all;
    for (char c = kFirst; c <= kLast; ++c)
        all += QLatin1Char(c);
    const QList<quint32> glyphs = m_raw.glyphIndexesForString(all);
    if (glyphs.size() != qsizetype(m_glyphs.size()))
        return;
    const QList<QPointF> advances = m_raw.advancesForGlyphIndexes(glyphs);
    for (qsizetype i = 0; i < glyphs.size(); ++i) {
        // A missing glyph (index 0) would need a fallback font, which only shaping finds.
        if (glyphs[i] == 0 || advances[i].x() != advances[0].x())
            return;
        m_glyphs[std::size_t(i)] = glyphs[i];
    }
    m_pitch = advances[0].x();
    m_fixed = m_pitch > 0;
}

bool CFixedPitchText::Printable(std::string_view text) const {
    for (const char c : text) {
        if (c < kFirst || c > kLast)
            return false;
    }
    return true;
}

int CFixedPitchText::Width(std::string_view text) const {
    if (m_fixed && Printable(text))
        return qRound(m_pitch * qreal(text.size())); // rounded as QFontMetrics rounds
    return QFontMetrics(m_font).horizontalAdvance(
        QString::fromLatin1(text.data(), qsizetype(text.size())));
}

void CFixedPitchText::Draw(QPainter& painter, int x, int baseline, std::string_view text) {
    if (!m_fixed || !Printable(text)) {
        painter.setFont(m_font);
        painter.drawText(x, baseline, QString::fromLatin1(text.data(), qsizetype(text.size())));
        return;
    }
    m_runGlyphs.resize(qsizetype(text.size()));
    m_runPositions.resize(qsizetype(text.size()));
    for (std::size_t i = 0; i < text.size(); ++i) {
        m_runGlyphs[qsizetype(i)] = m_glyphs[std::size_t(text[i] - kFirst)];
        m_runPositions[qsizetype(i)] = QPointF(m_pitch * qreal(i), 0);
    }
    QGlyphRun run;
    run.setRawFont(m_raw);
    run.setGlyphIndexes(m_runGlyphs);
    run.setPositions(m_runPositions);
    painter.drawGlyphRun(QPointF(x, baseline), run);
}
