#include "platform/gui/ini_format.h"

#include <QIODevice>
#include <QStringDecoder>
#include <map>
#include <vector>

namespace platform {
namespace {

QString Escape(const QString& text, const QString& special, bool escapeEndSpaces) {
    QString out;
    out.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text[i];
        const bool endSpace =
            escapeEndSpaces && c == QLatin1Char(' ') && (i == 0 || i == text.size() - 1);
        if (c.unicode() < 0x20 || c.unicode() == 0x7F || c == QLatin1Char('%') ||
            special.contains(c) || endSpace) {
            out += QStringLiteral("%%1").arg(c.unicode(), 2, 16, QLatin1Char('0')).toUpper();
        } else {
            out += c;
        }
    }
    return out;
}

int HexValue(QChar c) {
    const char16_t u = c.unicode();
    if (u >= u'0' && u <= u'9') {
        return u - u'0';
    }
    if (u >= u'A' && u <= u'F') {
        return u - u'A' + 10;
    }
    if (u >= u'a' && u <= u'f') {
        return u - u'a' + 10;
    }
    return -1;
}

// %XX back to its character; a '%' that starts no such pair stays as it is.
QString Unescape(const QString& text) {
    QString out;
    out.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text[i] == QLatin1Char('%') && i + 2 < text.size()) {
            const int high = HexValue(text[i + 1]);
            const int low = HexValue(text[i + 2]);
            if (high >= 0 && low >= 0) {
                out += QChar(static_cast<char16_t>(high * 16 + low));
                i += 2;
                continue;
            }
        }
        out += text[i];
    }
    return out;
}

QString EscapeKeyPart(const QString& text) {
    return QString(text)
        .replace(QLatin1Char('%'), QLatin1String("%25"))
        .replace(QLatin1Char('/'), QLatin1String("%2F"));
}

QString UnescapeKeyPart(const QString& text) {
    return QString(text)
        .replace(QLatin1String("%2F"), QLatin1String("/"))
        .replace(QLatin1String("%25"), QLatin1String("%"));
}

bool ReadIni(QIODevice& device, QSettings::SettingsMap& values) {
    return ParseIni(device.readAll(), values);
}

bool WriteIniDevice(QIODevice& device, const QSettings::SettingsMap& values) {
    const QByteArray text = WriteIni(values);
    return device.write(text) == text.size();
}

} // namespace

QSettings::Format IniFormat() {
    static const QSettings::Format format =
        QSettings::registerFormat(QStringLiteral("ini"), ReadIni, WriteIniDevice);
    return format;
}

QString JoinSettingsKey(const QString& section, const QString& key) {
    return EscapeKeyPart(section) + QLatin1Char('/') + EscapeKeyPart(key);
}

bool SplitSettingsKey(const QString& joined, QString& section, QString& key) {
    const qsizetype slash = joined.indexOf(QLatin1Char('/'));
    if (slash <= 0 || slash != joined.lastIndexOf(QLatin1Char('/')) || slash == joined.size() - 1) {
        return false;
    }
    section = UnescapeKeyPart(joined.left(slash));
    key = UnescapeKeyPart(joined.mid(slash + 1));
    return true;
}

bool ParseIni(const QByteArray& text, QSettings::SettingsMap& values) {
    if (text.contains('\0')) {
        return false;
    }
    QStringDecoder decoder(QStringDecoder::Utf8);
    const QString decoded = decoder(text);
    if (decoder.hasError()) {
        return false;
    }
    QString section;
    bool inSection = false;
    for (QString line : decoded.split(QLatin1Char('\n'))) {
        if (line.endsWith(QLatin1Char('\r'))) {
            line.chop(1);
        }
        const QString trimmed = line.trimmed();
        if (trimmed.isEmpty() || trimmed.startsWith(QLatin1Char(';')) ||
            trimmed.startsWith(QLatin1Char('#'))) {
            continue;
        }
        if (trimmed.startsWith(QLatin1Char('['))) {
            if (!trimmed.endsWith(QLatin1Char(']')) || trimmed.size() < 3) {
                return false;
            }
            section = Unescape(trimmed.mid(1, trimmed.size() - 2));
            inSection = true;
            continue;
        }
        const qsizetype equals = line.indexOf(QLatin1Char('='));
        const QString key = Unescape(line.left(equals).trimmed());
        if (!inSection || equals < 0 || key.isEmpty()) {
            return false;
        }
        values.insert(JoinSettingsKey(section, key), Unescape(line.mid(equals + 1)));
    }
    return true;
}

QByteArray WriteIni(const QSettings::SettingsMap& values) {
    // Sections in the order of their names, keys likewise.
    std::map<QString, std::vector<std::pair<QString, QString>>> sections;
    for (auto it = values.cbegin(); it != values.cend(); ++it) {
        QString section;
        QString key;
        if (SplitSettingsKey(it.key(), section, key)) {
            sections[section].emplace_back(key, it.value().toString());
        }
    }
    QString out;
    for (const auto& [section, entries] : sections) {
        if (!out.isEmpty()) {
            out += QLatin1Char('\n');
        }
        out +=
            QLatin1Char('[') + Escape(section, QStringLiteral("]"), true) + QStringLiteral("]\n");
        for (const auto& [key, value] : entries) {
            QString name = Escape(key, QStringLiteral("="), true);
            if (name.startsWith(QLatin1Char('[')) || name.startsWith(QLatin1Char(';')) ||
                name.startsWith(QLatin1Char('#'))) {
                name = Escape(name.left(1), name.left(1), false) + name.mid(1);
            }
            out += name + QLatin1Char('=') + Escape(value, {}, false) + QLatin1Char('\n');
        }
    }
    return out.toUtf8();
}

} // namespace platform
