#include "loader/kelvload_app_doc.h"

CKelvloadAppDoc::CKelvloadAppDoc() {
    m_SrcPath = DefaultSourcePath();
}

std::string CKelvloadAppDoc::DefaultSourcePath() {
    return DefaultLoaderSourcePath();
}

int CKelvloadAppDoc::LoadSettings() {
    return LoadLoaderSettings(*this);
}

int CKelvloadAppDoc::SaveSettings() {
    return SaveLoaderSettings(*this);
}
