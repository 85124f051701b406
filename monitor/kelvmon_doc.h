#pragma once
// CKelvmonDoc: the monitor's document. It has no file content: it holds the persistent settings
// (loaded when the view starts, stored when the document closes) and the path of the document
// file, which is remembered but never read or written.

#include "monitor/monitor_settings.h"
#include "platform/gui/document.h"
#include "platform/gui/settings_store.h"

#include <QString>
#include <cstdint>

// The path of the last document file opened (section "FilePaths", key "g_ProjectFilePath").
extern QString g_ProjectFilePath;

// The monitor's per-user settings store ("kelvmon" under the maker's key).
platform::SettingsStore& KelvmonProfile();

// ISettingsAccess over the settings store.
class CProfileSettings : public ISettingsAccess {
public:
    explicit CProfileSettings(platform::SettingsStore& store) : m_store(store) {}
    std::optional<QString> ReadText(const QString& section, const QString& key) override {
        return m_store.ReadString(section, key);
    }
    bool WriteText(const QString& section, const QString& key, const QString& value) override {
        return m_store.WriteProfileString(section, key, value);
    }

private:
    platform::SettingsStore& m_store;
};

class CKelvmonDoc : public platform::Document, public MonitorSettings {
public:
    CKelvmonDoc() = default;

    // Fills the fields from the settings store; an unreadable value takes its default.
    int LoadSettings();
    // Stores the fields in table order; false when a write failed.
    bool SaveSettings();

    bool OnNewDocument() override;
    bool OnOpenDocument(const QString& path) override;
    void OnCloseDocument() override;

    // Hexadecimal text to bytes (see ParseHexString in hex_text.h).
    int ParseHexString(QString text, std::uint8_t* buffer, int capacity) const;

    int m_bFirstNew = 1;
    int m_bProjectLoaded = 0;
};
