#pragma once
// The INI text the settings store keeps its values in, as a QSettings format.
//
//   [Settings\Ints]
//   m_BitRate=2
//
// Section and key names stand as they are, backslashes included; value text runs from the '='
// to the end of the line, spaces included. '%', line breaks and other control characters (and
// in names the characters that would end a name early) are written as %XX.
//
// Inside QSettings a value's key is "<section>/<key>" with '%' and '/' of either name escaped,
// so that no name is split into groups.

#include <QSettings>
#include <QString>

namespace platform {

// The format, registered on first use.
QSettings::Format IniFormat();

// The QSettings key of a section and key, and back. Splitting fails for keys that no section
// and key give.
QString JoinSettingsKey(const QString& section, const QString& key);
bool SplitSettingsKey(const QString& joined, QString& section, QString& key);

// Parses INI text into QSettings keys. False for text that is not INI: not UTF-8, a NUL, or a
// line that is neither a [section], a key=value within a section, a ;comment nor blank.
bool ParseIni(const QByteArray& text, QSettings::SettingsMap& values);
QByteArray WriteIni(const QSettings::SettingsMap& values);

} // namespace platform
