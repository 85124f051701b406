#pragma once
// The per-user settings store: text values by section and key, in the INI file
// $XDG_CONFIG_HOME/Kestrom/<application>.ini (~/.config when the variable is unset or not an
// absolute path). Sections keep their names, "Settings\Ints" included:
//
//   [Settings\Ints]
//   m_BitRate=2
//
//   platform::SettingsStore store("kelvload");
//   QString path = store.GetProfileString("Settings\\Strings", "m_SrcPath", "c:\\");
//   bool ok = store.WriteProfileString("Settings\\Ints", "m_BitRate", "2");
//
// Every write replaces the file atomically (a crash leaves the old or the new file). A file
// that cannot be read or parsed reads as empty, so every value takes its default; the first
// write then keeps the unreadable file as <application>.ini.corrupt before starting afresh.

#include <QString>
#include <optional>

namespace platform {

inline constexpr const char* CompanyKey = "Kestrom";

// $XDG_CONFIG_HOME, or ~/.config. Read from the environment on every call.
QString ConfigHome();

class SettingsStore {
public:
    explicit SettingsStore(QString application);

    QString Application() const { return application_; }
    QString FilePath() const;

    // The stored text, or nothing when the key (or the whole file) is missing or unreadable.
    std::optional<QString> ReadString(const QString& section, const QString& key) const;
    QString GetProfileString(const QString& section, const QString& key,
                             const QString& defaultValue = {}) const;
    // True when the value is stored on disk.
    bool WriteProfileString(const QString& section, const QString& key, const QString& value);

private:
    QString application_;
};

} // namespace platform
