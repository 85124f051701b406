#include "platform/gui/settings_store.h"

#include "platform/gui/ini_format.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSettings>

namespace platform {

QString ConfigHome() {
    // Relative values are invalid by the XDG rules and are ignored.
    const QString config = qEnvironmentVariable("XDG_CONFIG_HOME");
    if (config.startsWith(QLatin1Char('/'))) {
        return config;
    }
    return QDir::homePath() + QStringLiteral("/.config");
}

namespace {

// A file that exists and can be read but is not INI text. QSettings keeps parsed files in a
// process-wide cache and reports a parse failure only to the object that parsed it, so the
// store looks at the bytes itself.
bool IsCorrupt(const QString& path) {
    QFile file(path);
    if (!file.exists() || !file.open(QIODevice::ReadOnly)) {
        return false;
    }
    QSettings::SettingsMap values;
    return !ParseIni(file.readAll(), values);
}

} // namespace

SettingsStore::SettingsStore(QString application) : application_(std::move(application)) {}

QString SettingsStore::FilePath() const {
    return ConfigHome() + QLatin1Char('/') + QLatin1String(CompanyKey) + QLatin1Char('/') +
           application_ + QStringLiteral(".ini");
}

std::optional<QString> SettingsStore::ReadString(const QString& section, const QString& key) const {
    if (section.isEmpty() || key.isEmpty()) {
        return std::nullopt;
    }
    const QString path = FilePath();
    if (IsCorrupt(path)) {
        return std::nullopt; // not INI: every value takes its default
    }
    QSettings settings(path, IniFormat());
    if (settings.status() != QSettings::NoError) {
        return std::nullopt; // unreadable: every value takes its default
    }
    const QVariant value = settings.value(JoinSettingsKey(section, key));
    if (!value.isValid()) {
        return std::nullopt;
    }
    return value.toString();
}

QString SettingsStore::GetProfileString(const QString& section, const QString& key,
                                        const QString& defaultValue) const {
    return ReadString(section, key).value_or(defaultValue);
}

bool SettingsStore::WriteProfileString(const QString& section, const QString& key,
                                       const QString& value) {
    if (section.isEmpty() || key.isEmpty()) {
        return false;
    }
    const QString path = FilePath();
    if (!QDir().mkpath(QFileInfo(path).absolutePath())) {
        return false;
    }
    if (IsCorrupt(path)) {
        // Keep what could not be read, for the user, and start a fresh file.
        const QString kept = path + QStringLiteral(".corrupt");
        QFile::remove(kept);
        if (!QFile::rename(path, kept)) {
            return false;
        }
    }
    QSettings settings(path, IniFormat());
    settings.setValue(JoinSettingsKey(section, key), value);
    settings.sync();
    return settings.status() == QSettings::NoError;
}

} // namespace platform
