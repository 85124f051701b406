#include "monitor/kelvmon_doc.h"

#include "monitor/hex_text.h"

QString g_ProjectFilePath;

platform::SettingsStore& KelvmonProfile() {
    static platform::SettingsStore store(QStringLiteral("kelvmon"));
    return store;
}

int CKelvmonDoc::LoadSettings() {
    CProfileSettings store(KelvmonProfile());
    static_cast<MonitorSettings&>(*this) = LoadMonitorSettings(store);
    return 1;
}

bool CKelvmonDoc::SaveSettings() {
    CProfileSettings store(KelvmonProfile());
    return SaveMonitorSettings(store, *this);
}

bool CKelvmonDoc::OnNewDocument() {
    if (!platform::Document::OnNewDocument())
        return false;
    m_bProjectLoaded = 0;
    if (m_bFirstNew) {
        m_bFirstNew = 0;
        if (!g_ProjectFilePath.isEmpty()) {
            SetPathName(g_ProjectFilePath);
            m_bProjectLoaded = 1;
        }
    }
    SetModifiedFlag(false);
    return true;
}

bool CKelvmonDoc::OnOpenDocument(const QString& path) {
    // The file is only remembered: its content is neither read nor checked.
    SetModifiedFlag(false);
    g_ProjectFilePath = path;
    SetPathName(path);
    m_bProjectLoaded = 1;
    return true;
}

void CKelvmonDoc::OnCloseDocument() {
    SaveSettings();
    platform::Document::OnCloseDocument();
}

int CKelvmonDoc::ParseHexString(QString text, std::uint8_t* buffer, int capacity) const {
    return ::ParseHexString(text, buffer, capacity);
}
