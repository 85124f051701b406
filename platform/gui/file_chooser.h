#pragma once
// Open and save file choosers.
//
//   platform::FileChooserRequest request;
//   request.title = platform::LoadString(61204);
//   request.filter = "KFW Files (*.kfw)|*.kfw||";
//   request.initialFolder = m_strPath;
//   if (auto path = platform::ChooseFile(this, request)) ...
//
// Tests answer choosers without showing them with SetFileChooserResponder.

#include <QString>
#include <QStringList>
#include <cstdint>
#include <functional>
#include <optional>

class QWidget;

namespace platform {

// Options.
inline constexpr std::uint32_t OfnOverwritePrompt = 0x00000002;
inline constexpr std::uint32_t OfnHideReadOnly = 0x00000004;
inline constexpr std::uint32_t OfnNoChangeDir = 0x00000008;
inline constexpr std::uint32_t OfnPathMustExist = 0x00000800;
inline constexpr std::uint32_t OfnFileMustExist = 0x00001000;
inline constexpr std::uint32_t OfnLongNames = 0x00200000;

struct FileChooserRequest {
    bool open = true;         // an open chooser; false: a save chooser
    QString title;            // empty: the chooser's own title
    QString filter;           // "Name (*.a *.b)|*.a; *.b|Other (*.c)|*.c||"
    QString defaultExtension; // without the dot; added to a chosen name that has none
    QString initialFolder;    // a folder, or a file path whose folder is used
    QString initialFile;      // a name or a path; its folder is used when it exists
    std::uint32_t flags = 0;
};

// The chosen full path, or nothing when the user cancelled.
std::optional<QString> ChooseFile(QWidget* parent, const FileChooserRequest& request);

// The name filters for a filter text: "Capture Files (*.cap *.txt)|*.cap; *.txt||" gives
// "Capture Files (*.cap *.txt)".
QStringList ToNameFilters(const QString& filter);

// The path a request's initial folder and file point at, as the chooser starts: folder and
// file name. Windows-style separators in the settings' paths count as separators.
struct ChooserStart {
    QString folder;
    QString fileName;
};
ChooserStart ResolveChooserStart(const FileChooserRequest& request);

using FileChooserResponder = std::function<std::optional<QString>(const FileChooserRequest&)>;
// While set, ChooseFile asks the responder instead of showing a chooser (the default extension
// is still added). Empty: choosers again.
void SetFileChooserResponder(FileChooserResponder responder);

} // namespace platform
