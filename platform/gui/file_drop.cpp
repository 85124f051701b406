#include "platform/gui/file_drop.h"

#include <QDragEnterEvent>
#include <QDropEvent>
#include <QMimeData>
#include <QUrl>
#include <QWidget>

namespace platform {
namespace {

QStringList LocalFiles(const QMimeData* data) {
    QStringList paths;
    if (data == nullptr) {
        return paths;
    }
    for (const QUrl& url : data->urls()) {
        if (url.isLocalFile()) {
            paths.append(url.toLocalFile());
        }
    }
    return paths;
}

class DropFilter : public QObject {
public:
    DropFilter(QWidget& window, std::function<void(const QStringList&)> handler)
        : QObject(&window), handler_(std::move(handler)) {}

protected:
    bool eventFilter(QObject*, QEvent* event) override {
        switch (event->type()) {
        case QEvent::DragEnter:
        case QEvent::DragMove: {
            auto* drag = static_cast<QDragMoveEvent*>(event);
            if (LocalFiles(drag->mimeData()).isEmpty()) {
                drag->ignore();
            } else {
                drag->acceptProposedAction();
            }
            return true;
        }
        case QEvent::Drop: {
            auto* drop = static_cast<QDropEvent*>(event);
            const QStringList paths = LocalFiles(drop->mimeData());
            if (paths.isEmpty()) {
                drop->ignore();
                return true;
            }
            drop->acceptProposedAction();
            handler_(paths);
            return true;
        }
        default:
            return false;
        }
    }

private:
    std::function<void(const QStringList&)> handler_;
};

} // namespace

void DragAcceptFiles(QWidget& window, std::function<void(const QStringList&)> handler) {
    window.setAcceptDrops(true);
    window.installEventFilter(new DropFilter(window, std::move(handler)));
}

} // namespace platform
