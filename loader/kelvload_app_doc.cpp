#include "loader/kelvload_app_doc.h"

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

CKelvloadAppDoc::CKelvloadAppDoc() {
    m_SrcPath = DefaultSourcePath();
}

std::string CKelvloadAppDoc::DefaultSourcePath() {
    return QFile::encodeName(QDir::homePath()).toStdString();
}

int CKelvloadAppDoc::LoadSettings() {
    const platform::SettingsStore store(kKelvloadSettingsName);
    m_ActiveComPort = ReadInt(store, kComPortKey, kDefaultComPort);
    m_BitRate = ReadInt(store, kBitRateKey, kDefaultBitRate);
    if (m_BitRate < 0 || m_BitRate >= kBitRateCount) {
        m_BitRate = kDefaultBitRate;
    }
    const std::optional<QString> path = store.ReadString(kStrings, kSrcPathKey);
    m_SrcPath = path ? QFile::encodeName(*path).toStdString() : DefaultSourcePath();
    return 1;
}

int CKelvloadAppDoc::SaveSettings() {
    platform::SettingsStore store(kKelvloadSettingsName);
    const bool written =
        WriteInt(store, kComPortKey, m_ActiveComPort) && WriteInt(store, kBitRateKey, m_BitRate) &&
        store.WriteProfileString(kStrings, kSrcPathKey, QFile::decodeName(m_SrcPath.c_str()));
    return written ? 1 : 0;
}
