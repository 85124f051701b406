#include "monitor/monitor_settings.h"

#include <QDir>
#include <cerrno>
#include <climits>
#include <cstdlib>

namespace {

const QString kInts = QStringLiteral("Settings\\Ints");
const QString kStrings = QStringLiteral("Settings\\Strings");

int ReadInt(ISettingsAccess& store, const char* key, int fallback) {
    const std::optional<QString> text = store.ReadText(kInts, QString::fromLatin1(key));
    if (!text)
        return fallback;
    return ScanInt(*text).value_or(fallback);
}

QString ReadString(ISettingsAccess& store, const char* key, const QString& fallback) {
    return store.ReadText(kStrings, QString::fromLatin1(key)).value_or(fallback);
}

} // namespace

int ValidBitRateIndex(int index) {
    return index >= 0 && index < kBitRateCount ? index : kDefaultBitRateIndex;
}

std::optional<int> ScanInt(const QString& text) {
    const QByteArray bytes = text.toLocal8Bit();
    const char* start = bytes.constData();
    char* end = nullptr;
    errno = 0;
    // Base 0 reads the three forms of "%i"; a value that does not fit an int is unreadable.
    const long long value = std::strtoll(start, &end, 0);
    if (end == start || errno == ERANGE || value < INT_MIN || value > INT_MAX)
        return std::nullopt;
    return static_cast<int>(value);
}

QString DefaultCapturePath() {
    return QDir::home().filePath(QStringLiteral("Capture.cap"));
}
QString DefaultSendPath() {
    return QDir::home().filePath(QStringLiteral("Send.cap"));
}

MonitorSettings::MonitorSettings()
    : m_CaptureFilePath(DefaultCapturePath()), m_SendFilePath(DefaultSendPath()) {}

MonitorSettings LoadMonitorSettings(ISettingsAccess& store) {
    const MonitorSettings d;
    MonitorSettings s;
    s.m_ActiveComPort = ReadInt(store, "m_ActiveComPort", d.m_ActiveComPort);
    s.m_BitRate = ValidBitRateIndex(ReadInt(store, "m_BitRate", d.m_BitRate));
    s.m_DisplayModeGrp = ReadInt(store, "m_DisplayModeGrp", d.m_DisplayModeGrp) == 1 ? 1 : 0;
    s.m_UseTimeStamp = ReadInt(store, "m_UseTimeStamp", d.m_UseTimeStamp);
    s.m_CaptureFilePath = ReadString(store, "m_CaptureFilePath", d.m_CaptureFilePath);
    s.m_SendFilePath = ReadString(store, "m_SendFilePath", d.m_SendFilePath);
    s.m_SendStr = ReadString(store, "m_SendStr", d.m_SendStr);
    s.m_SendStr2 = ReadString(store, "m_SendStr2", d.m_SendStr2);
    s.m_SendStr3 = ReadString(store, "m_SendStr3", d.m_SendStr3);
    s.m_SendStr4 = ReadString(store, "m_SendStr4", d.m_SendStr4);
    return s;
}

bool SaveMonitorSettings(ISettingsAccess& store, const MonitorSettings& s) {
    const std::pair<const char*, int> ints[] = {
        {"m_ActiveComPort", s.m_ActiveComPort},
        {"m_BitRate", s.m_BitRate},
        {"m_DisplayModeGrp", s.m_DisplayModeGrp},
        {"m_UseTimeStamp", s.m_UseTimeStamp},
    };
    for (const auto& [key, value] : ints) {
        if (!store.WriteText(kInts, QString::fromLatin1(key), QString::number(value)))
            return false;
    }
    const std::pair<const char*, const QString*> texts[] = {
        {"m_CaptureFilePath", &s.m_CaptureFilePath},
        {"m_SendFilePath", &s.m_SendFilePath},
        {"m_SendStr", &s.m_SendStr},
        {"m_SendStr2", &s.m_SendStr2},
        {"m_SendStr3", &s.m_SendStr3},
        {"m_SendStr4", &s.m_SendStr4},
    };
    for (const auto& [key, value] : texts) {
        if (!store.WriteText(kStrings, QString::fromLatin1(key), *value))
            return false;
    }
    return true;
}

QString LoadProjectFilePath(ISettingsAccess& store) {
    return store.ReadText(QStringLiteral("FilePaths"), QStringLiteral("g_ProjectFilePath"))
        .value_or(QString());
}

bool SaveProjectFilePath(ISettingsAccess& store, const QString& path) {
    return store.WriteText(QStringLiteral("FilePaths"), QStringLiteral("g_ProjectFilePath"), path);
}
