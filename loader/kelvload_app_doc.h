#pragma once
// The loader's document as the program holds it: the bus link with the
// toolkit's document, and the three settings it keeps between runs.

#include "loader/kelvload_doc.h"
#include "loader/loader_settings.h"
#include "platform/gui/document.h"

class CKelvloadAppDoc final : public platform::Document, public CKelvloadDoc {
public:
    CKelvloadAppDoc();

    // LoadLoaderSettings and SaveLoaderSettings of this document.
    int LoadSettings();
    int SaveSettings();

    // The path used when none is stored; it never loads as a firmware file.
    static std::string DefaultSourcePath();
};
