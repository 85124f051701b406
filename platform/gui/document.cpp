#include "platform/gui/document.h"

namespace platform {

bool Document::OnNewDocument() {
    DeleteContents();
    pathName_.clear();
    modified_ = false;
    return true;
}

bool Document::OnOpenDocument(const QString& path) {
    DeleteContents();
    pathName_ = path;
    modified_ = false;
    return true;
}

void Document::OnCloseDocument() {}

} // namespace platform
