#include "platform/gui/key_pretranslate.h"

#include <QApplication>
#include <QKeyEvent>

namespace platform {

KeyPreTranslator::KeyPreTranslator(QWidget& window, Filter filter)
    : window_(&window), filter_(std::move(filter)) {
    QCoreApplication::instance()->installEventFilter(this);
}

KeyPreTranslator::~KeyPreTranslator() {
    if (QCoreApplication* app = QCoreApplication::instance()) {
        app->removeEventFilter(this);
    }
}

bool KeyPreTranslator::eventFilter(QObject* watched, QEvent* event) {
    // The receiver is looked at before the event: messages that other threads post go to
    // receivers that are not widgets, and are read only once their receiver has taken them.
    if (window_ == nullptr || !watched->isWidgetType() || event->type() != QEvent::KeyPress) {
        return false;
    }
    // A key press goes first to the focus widget and then, while ignored, up its parents: offer
    // it once, on its first delivery.
    // Without a focus widget the key goes to the active window itself.
    auto* receiver = static_cast<QWidget*>(watched);
    const QWidget* first = QApplication::focusWidget();
    if (first == nullptr) {
        first = receiver->window();
    }
    if (receiver != first) {
        return false;
    }
    if (receiver != window_ && !window_->isAncestorOf(receiver)) {
        return false;
    }
    return filter_(*static_cast<QKeyEvent*>(event));
}

} // namespace platform
