#pragma once
// Offers every key press meant for a window, or for any control inside it, to a filter before
// the control sees it. A form view uses it so that keys such as Space and F11 can act on the
// whole form whichever control has the focus.

#include <QObject>
#include <QPointer>
#include <QWidget>
#include <functional>

class QKeyEvent;

namespace platform {

class KeyPreTranslator : public QObject {
public:
    // The filter returns true to consume the key press.
    using Filter = std::function<bool(QKeyEvent&)>;

    // Installs itself on the application; removed again when destroyed.
    KeyPreTranslator(QWidget& window, Filter filter);
    ~KeyPreTranslator() override;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QPointer<QWidget> window_;
    Filter filter_;
};

} // namespace platform
