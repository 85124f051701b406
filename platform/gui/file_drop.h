#pragma once
// Files dropped on a window.
//
//   platform::DragAcceptFiles(*frame, [&](const QStringList& paths) {
//   app.OpenDocumentFile(paths.front()); });

#include <QStringList>
#include <functional>

class QWidget;

namespace platform {

// Makes the window (and the controls in it that take no drops themselves) accept files; each
// drop of one or more local files calls `handler` with their paths. Drops of anything else are
// refused.
void DragAcceptFiles(QWidget& window, std::function<void(const QStringList&)> handler);

} // namespace platform
