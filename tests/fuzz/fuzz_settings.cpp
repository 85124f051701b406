// Arbitrary bytes as a program's settings file. Invariants: a read gives the stored value or
// nothing, never a crash; a write keeps every other value of a readable file, and keeps an
// unreadable one, byte for byte, as <application>.ini.corrupt.
#include "platform/gui/ini_format.h"
#include "platform/gui/settings_store.h"

#include <QDir>
#include <QFile>
#include <cstdint>
#include <cstdlib>
#include <string>

namespace {

void Require(bool condition) {
    if (!condition)
        std::abort();
}

QByteArray ReadAll(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

const QString kSection = QStringLiteral("Settings\\Ints");
const QString kKey = QStringLiteral("m_BitRate");

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const std::string home = [] {
        char pattern[] = "/tmp/kestrom-fuzz-settings.XXXXXX";
        Require(mkdtemp(pattern) != nullptr);
        setenv("XDG_CONFIG_HOME", pattern, 1);
        return std::string(pattern);
    }();
    // A new name every time: the settings layer caches files by name.
    static unsigned long run = 0;
    platform::SettingsStore store(QStringLiteral("fuzz%1").arg(++run));
    const QString path = store.FilePath();
    Require(QDir().mkpath(QFileInfo(path).absolutePath()));
    const QByteArray original(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    {
        QFile file(path);
        Require(file.open(QIODevice::WriteOnly) && file.write(original) == original.size());
    }

    QSettings::SettingsMap values;
    const bool readable = platform::ParseIni(original, values);
    const std::optional<QString> read = store.ReadString(kSection, kKey);
    const QString joined = platform::JoinSettingsKey(kSection, kKey);
    if (!readable || !values.contains(joined))
        Require(!read.has_value());
    else
        Require(read == values.value(joined).toString());

    Require(store.WriteProfileString(kSection, kKey, QStringLiteral("4")));
    Require(store.ReadString(kSection, kKey) == QStringLiteral("4"));
    if (!readable) {
        Require(ReadAll(path + QStringLiteral(".corrupt")) == original);
    } else {
        for (auto it = values.cbegin(); it != values.cend(); ++it) {
            QString section, key;
            if (it.key() == joined || !platform::SplitSettingsKey(it.key(), section, key))
                continue;
            Require(store.ReadString(section, key) == it.value().toString());
        }
    }
    QFile::remove(path);
    QFile::remove(path + QStringLiteral(".corrupt"));
    return 0;
}
