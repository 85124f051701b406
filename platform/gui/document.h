#pragma once
// The document of a single-document program: the program's data behind the view, with the
// path of the file it stands for. The programs derive their documents from it.

#include <QString>

namespace platform {

class Document {
public:
    Document() = default;
    virtual ~Document() = default;
    Document(const Document&) = delete;
    Document& operator=(const Document&) = delete;

    // A new, empty document: the default clears the contents and the path. False fails.
    virtual bool OnNewDocument();
    // The document for the file: the default clears the contents and takes the path.
    virtual bool OnOpenDocument(const QString& path);
    // The document closes with its frame; the default does nothing.
    virtual void OnCloseDocument();
    virtual void DeleteContents() {}

    QString GetPathName() const { return pathName_; }
    void SetPathName(const QString& path) { pathName_ = path; }
    bool IsModified() const { return modified_; }
    void SetModifiedFlag(bool modified = true) { modified_ = modified; }

private:
    QString pathName_;
    bool modified_ = false;
};

} // namespace platform
