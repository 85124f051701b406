#pragma once
// The monitor's persistent settings: their sections, keys, defaults and the reading rules.

#include <QString>
#include <optional>

// The per-user settings store, reduced to what the monitor asks of it.
class ISettingsAccess {
public:
    virtual ~ISettingsAccess() = default;
    // The stored text, or nothing when the key is not there.
    virtual std::optional<QString> ReadText(const QString& section, const QString& key) = 0;
    virtual bool WriteText(const QString& section, const QString& key, const QString& value) = 0;
};

inline constexpr int kMonitorBitRates[12] = {1200,  2400,  4800,  9600,   16457,  19200,
                                             38400, 56000, 57600, 115200, 128000, 256000};
inline constexpr int kBitRateCount = 12;
inline constexpr int kDefaultBitRateIndex = 4; // 16457 bit/s

// An index outside the table counts as the default.
int ValidBitRateIndex(int index);
inline int BitRateOfIndex(int index) {
    return kMonitorBitRates[ValidBitRateIndex(index)];
}

// "%i" of the C library: decimal, hexadecimal after 0x, octal after a leading 0, with an
// optional sign and leading blanks. Nothing when the text does not start with a number.
std::optional<int> ScanInt(const QString& text);

struct MonitorSettings {
    int m_ActiveComPort = 1;
    int m_BitRate = kDefaultBitRateIndex;
    int m_DisplayModeGrp = 0;
    int m_UseTimeStamp = 0;
    QString m_CaptureFilePath;
    QString m_SendFilePath;
    QString m_SendStr = QStringLiteral("81 ");
    QString m_SendStr2 = QStringLiteral("82 ");
    QString m_SendStr3 = QStringLiteral("83 ");
    QString m_SendStr4 = QStringLiteral("84 ");

    MonitorSettings(); // the defaults; the two paths name files in the home folder
};

QString DefaultCapturePath(); // Capture.cap in the home folder
QString DefaultSendPath();    // Send.cap in the home folder

// Fills every field from the store; a missing or unreadable value takes its default, a display
// mode other than 0 or 1 counts as 0 and a bit-rate index outside the table as the default.
MonitorSettings LoadMonitorSettings(ISettingsAccess& store);
// Writes the fields in table order; stops at the first failed write and returns false then.
bool SaveMonitorSettings(ISettingsAccess& store, const MonitorSettings& settings);

// The last document file opened (section "FilePaths", key "g_ProjectFilePath").
QString LoadProjectFilePath(ISettingsAccess& store);
bool SaveProjectFilePath(ISettingsAccess& store, const QString& path);
