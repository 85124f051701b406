#pragma once
// The loader's document as the program holds it: the bus link with the
// toolkit's document, and the three settings it keeps between runs.

#include "loader/kelvload_doc.h"
#include "platform/gui/document.h"

// Name of the settings file, $XDG_CONFIG_HOME/Kestrom/kelvload.ini.
inline constexpr const char* kKelvloadSettingsName = "kelvload";

class CKelvloadAppDoc final : public platform::Document, public CKelvloadDoc {
public:
    CKelvloadAppDoc();

    // Reads m_ActiveComPort (default 1), m_BitRate (default 2, also for an
    // index outside the bit-rate table) and m_SrcPath (default the user's
    // home folder). Returns 1.
    int LoadSettings();
    // Writes the three settings in that order and stops at the first write
    // that fails. Returns 1 when all three were written, else 0.
    int SaveSettings();

    // The path used when none is stored; it never loads as a firmware file.
    static std::string DefaultSourcePath();
};
