#include "loader/loader_settings.h"

#include "loader/setting_text.h"
#include "platform/gui/settings_store.h"

#include <QDir>
#include <QFile>

#include <optional>

namespace {

constexpr const char* kInts = "Settings\\Ints";
constexpr const char* kStrings = "Settings\\Strings";
constexpr const char* kComPortKey = "m_ActiveComPort";
constexpr const char* kBitRateKey = "m_BitRate";
constexpr const char* kSrcPathKey = "m_SrcPath";
constexpr std::int32_t kDefaultComPort = 1;
constexpr std::int32_t kDefaultBitRate = 2;

std::int32_t ReadInt(const platform::SettingsStore& store, const char* key,
                     std::int32_t defaultValue) {
    const QString text = store.GetProfileString(kInts, key);
    return ParseIntSetting(text.toStdString()).value_or(defaultValue);
}

bool WriteInt(platform::SettingsStore& store, const char* key, std::int32_t value) {
    return store.WriteProfileString(kInts, key, QString::fromStdString(FormatIntSetting(value)));
}

} // namespace

std::string DefaultLoaderSourcePath() {
    return QFile::encodeName(QDir::homePath()).toStdString();
}

int LoadLoaderSettings(CKelvloadDoc& doc) {
    const platform::SettingsStore store(kKelvloadSettingsName);
    doc.m_ActiveComPort = ReadInt(store, kComPortKey, kDefaultComPort);
    doc.m_BitRate = ReadInt(store, kBitRateKey, kDefaultBitRate);
    if (doc.m_BitRate < 0 || doc.m_BitRate >= kBitRateCount) {
        doc.m_BitRate = kDefaultBitRate;
    }
    const std::optional<QString> path = store.ReadString(kStrings, kSrcPathKey);
    doc.m_SrcPath = path ? QFile::encodeName(*path).toStdString() : DefaultLoaderSourcePath();
    return 1;
}

StoredLoaderLink LoadStoredLoaderLink() {
    const platform::SettingsStore store(kKelvloadSettingsName);
    const auto read = [&](const char* key) -> std::optional<std::int32_t> {
        const std::optional<QString> text = store.ReadString(kInts, key);
        return text ? ParseIntSetting(text->toStdString()) : std::nullopt;
    };
    StoredLoaderLink link{read(kComPortKey), read(kBitRateKey)};
    if (link.comPort && *link.comPort < 1) {
        link.comPort.reset();
    }
    if (link.bitRate && (*link.bitRate < 0 || *link.bitRate >= kBitRateCount)) {
        link.bitRate.reset();
    }
    return link;
}

int SaveLoaderSettings(const CKelvloadDoc& doc) {
    platform::SettingsStore store(kKelvloadSettingsName);
    const bool written =
        WriteInt(store, kComPortKey, doc.m_ActiveComPort) &&
        WriteInt(store, kBitRateKey, doc.m_BitRate) &&
        store.WriteProfileString(kStrings, kSrcPathKey, QFile::decodeName(doc.m_SrcPath.c_str()));
    return written ? 1 : 0;
}
