// kestromprobe: a Qt generic plugin that drives and inspects a running program's windows from a
// file of steps. The headless run test and the screenshot script load it into kelvload and
// kelvmon without the programs knowing:
//
//   QT_PLUGIN_PATH=<dir with generic/> QT_QPA_GENERIC_PLUGINS=kestromprobe:<steps file>
//
// One step a line; blank lines and lines starting with '#' are skipped. ${NAME} is replaced by
// the environment variable NAME.
//
//   wait MS                   let MS milliseconds pass
//   waitfor MS REGEX          wait until a line of the window text (see dump) matches REGEX
//   waitfile MS PATH REGEX    wait until a line of the file PATH matches REGEX
//   skipif PATH N REGEX       skip the next N steps when a line of the file PATH matches REGEX
//   key KEY                   press and release KEY ("Space", "F11", ...) in the active window
//   click TEXT                click the visible, enabled button whose caption is TEXT
//   grab FILE [REGEX]         save the window whose title matches REGEX (default: the main
//                             window) as a PNG image
//   dump FILE                 write the text of every visible window to FILE
//   close [REGEX]             close the windows whose titles match (default: all of them)
//   trigger TEXT              trigger the action (menu entry or shortcut) whose text is TEXT
//   type TEXT                 type TEXT into the widget that has the focus
//   tooltip N                 hover the N-th visible row of the main window's item view
//   grabscreen FILE           save the part of the screen under the main window, with any
//                             tooltip or menu over it, as a PNG image
//
// Every step writes one line to <steps file>.log: "ok <step>", or "FAIL <step>: reason" after
// which the steps go on. The log ends with "done".
#include <QAbstractButton>
#include <QAbstractItemView>
#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QFile>
#include <QFileInfo>
#include <QGenericPlugin>
#include <QGroupBox>
#include <QHelpEvent>
#include <QKeyEvent>
#include <QKeySequence>
#include <QLabel>
#include <QLineEdit>
#include <QMainWindow>
#include <QMenuBar>
#include <QPixmap>
#include <QPlainTextEdit>
#include <QRegularExpression>
#include <QScreen>
#include <QStatusBar>
#include <QTextEdit>
#include <QTextStream>
#include <QTimer>
#include <QWidget>
#include <functional>

namespace {

// Rows of an item view that a dump shows: the last ones, where new traffic appears.
constexpr int kDumpedRows = 200;
constexpr int kPollMs = 100;

QString Expand(QString text) {
    static const QRegularExpression variable(QStringLiteral("\\$\\{([A-Za-z_][A-Za-z0-9_]*)\\}"));
    QRegularExpressionMatch match;
    while ((match = variable.match(text)).hasMatch())
        text.replace(match.capturedStart(), match.capturedLength(),
                     qEnvironmentVariable(match.captured(1).toLatin1().constData()));
    return text;
}

QString Caption(const QString& text) {
    QString plain = text;
    plain.remove(QRegularExpression(QStringLiteral("&(?!&)")));
    return plain;
}

QList<QWidget*> VisibleWindows() {
    QList<QWidget*> windows;
    for (QWidget* w : QApplication::topLevelWidgets()) {
        if (w->isVisible() && w->isWindow())
            windows.append(w);
    }
    return windows;
}

void DumpModel(const QAbstractItemView& view, QStringList& lines) {
    const QAbstractItemModel* model = view.model();
    if (model == nullptr)
        return;
    const int rows = model->rowCount();
    const int columns = model->columnCount();
    lines << QStringLiteral("rows: %1").arg(rows);
    for (int row = qMax(0, rows - kDumpedRows); row < rows; ++row) {
        QStringList cells;
        for (int column = 0; column < columns; ++column)
            cells << model->index(row, column).data(Qt::DisplayRole).toString();
        lines << QStringLiteral("row: ") + cells.join(QStringLiteral(" | "));
    }
}

// The text a user can read in a window, one item a line, prefixed with its kind.
void DumpWidget(QWidget* widget, QStringList& lines) {
    if (!widget->isVisible())
        return;
    if (auto* label = qobject_cast<QLabel*>(widget)) {
        lines << QStringLiteral("label: ") + label->text();
    } else if (auto* button = qobject_cast<QAbstractButton*>(widget)) {
        QString line = QStringLiteral("button: ") + Caption(button->text());
        if (button->isCheckable())
            line += button->isChecked() ? QStringLiteral(" [x]") : QStringLiteral(" [ ]");
        if (!button->isEnabled())
            line += QStringLiteral(" (disabled)");
        lines << line;
    } else if (auto* combo = qobject_cast<QComboBox*>(widget)) {
        QStringList items;
        for (int i = 0; i < combo->count(); ++i)
            items << combo->itemText(i);
        lines << QStringLiteral("combo: ") + combo->currentText() + QStringLiteral(" of ") +
                     items.join(QLatin1Char(','));
        return; // its inner line edit and list are the same text again
    } else if (auto* edit = qobject_cast<QLineEdit*>(widget)) {
        lines << QStringLiteral("edit: ") + edit->text();
    } else if (auto* text = qobject_cast<QTextEdit*>(widget)) {
        lines << QStringLiteral("text: ") + text->toPlainText();
    } else if (auto* plain = qobject_cast<QPlainTextEdit*>(widget)) {
        lines << QStringLiteral("text: ") + plain->toPlainText();
    } else if (auto* group = qobject_cast<QGroupBox*>(widget)) {
        lines << QStringLiteral("group: ") + group->title();
    } else if (auto* view = qobject_cast<QAbstractItemView*>(widget)) {
        DumpModel(*view, lines);
        return;
    } else if (auto* bar = qobject_cast<QStatusBar*>(widget)) {
        if (!bar->currentMessage().isEmpty())
            lines << QStringLiteral("status: ") + bar->currentMessage();
    }
    for (QObject* child : widget->children()) {
        if (auto* w = qobject_cast<QWidget*>(child); w && !w->isWindow())
            DumpWidget(w, lines);
    }
}

QStringList WindowText() {
    QStringList lines;
    for (QWidget* window : VisibleWindows()) {
        lines << QStringLiteral("window: ") + window->windowTitle();
        DumpWidget(window, lines);
    }
    return lines;
}

bool AnyLineMatches(const QStringList& lines, const QRegularExpression& pattern) {
    for (const QString& line : lines) {
        if (pattern.match(line).hasMatch())
            return true;
    }
    return false;
}

QStringList FileLines(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'));
}

QWidget* MainWindow() {
    const QList<QWidget*> windows = VisibleWindows();
    for (QWidget* w : windows) {
        if (qobject_cast<QMainWindow*>(w))
            return w;
    }
    return windows.isEmpty() ? nullptr : windows.first();
}

QWidget* WindowTitled(const QString& pattern) {
    if (pattern.isEmpty())
        return MainWindow();
    const QRegularExpression title(pattern);
    for (QWidget* w : VisibleWindows()) {
        if (title.match(w->windowTitle()).hasMatch())
            return w;
    }
    return nullptr;
}

class Probe : public QObject {
public:
    explicit Probe(const QString& stepsPath) : m_log(stepsPath + QStringLiteral(".log")) {
        QFile steps(stepsPath);
        m_log.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Text);
        if (!steps.open(QIODevice::ReadOnly | QIODevice::Text)) {
            Log(QStringLiteral("FAIL cannot read ") + stepsPath);
            return;
        }
        for (const QString& line : QString::fromUtf8(steps.readAll()).split(QLatin1Char('\n'))) {
            const QString step = line.trimmed();
            if (!step.isEmpty() && !step.startsWith(QLatin1Char('#')))
                m_steps << step;
        }
        // The first step runs once the program's event loop is under way.
        QTimer::singleShot(0, this, [this] { Next(); });
    }

private:
    void Log(const QString& line) {
        m_log.write((line + QLatin1Char('\n')).toUtf8());
        m_log.flush();
    }

    void Next() {
        if (m_next >= m_steps.size()) {
            Log(QStringLiteral("done"));
            return;
        }
        Run(m_steps[m_next++]);
    }

    void Finish(const QString& step, const QString& failure = {}) {
        Log(failure.isEmpty() ? QStringLiteral("ok ") + step
                              : QStringLiteral("FAIL ") + step + QStringLiteral(": ") + failure);
        QTimer::singleShot(0, this, [this] { Next(); });
    }

    // Calls `done` until it returns true or `ms` have passed, then finishes the step.
    void Poll(const QString& step, int ms, std::function<bool()> done, const QString& failure) {
        if (done()) {
            Finish(step);
        } else if (ms <= 0) {
            Finish(step, failure);
        } else {
            QTimer::singleShot(kPollMs, this,
                               [=, this] { Poll(step, ms - kPollMs, done, failure); });
        }
    }

    void Run(const QString& step) {
        const QString verb = step.section(QLatin1Char(' '), 0, 0);
        const QString rest = Expand(step.section(QLatin1Char(' '), 1).trimmed());
        const QString first = rest.section(QLatin1Char(' '), 0, 0);
        const QString afterFirst = rest.section(QLatin1Char(' '), 1).trimmed();
        bool numeric = false;
        const int ms = first.toInt(&numeric);

        if (verb == QLatin1String("wait") && numeric) {
            QTimer::singleShot(ms, this, [=, this] { Finish(step); });
        } else if (verb == QLatin1String("waitfor") && numeric) {
            const QRegularExpression pattern(afterFirst);
            Poll(
                step, ms, [pattern] { return AnyLineMatches(WindowText(), pattern); },
                QStringLiteral("no window text matched"));
        } else if (verb == QLatin1String("waitfile") && numeric) {
            const QString path = afterFirst.section(QLatin1Char(' '), 0, 0);
            const QRegularExpression pattern(afterFirst.section(QLatin1Char(' '), 1).trimmed());
            Poll(
                step, ms, [=] { return AnyLineMatches(FileLines(path), pattern); },
                QStringLiteral("no line of the file matched"));
        } else if (verb == QLatin1String("skipif")) {
            const QString count = afterFirst.section(QLatin1Char(' '), 0, 0);
            const QRegularExpression pattern(afterFirst.section(QLatin1Char(' '), 1).trimmed());
            bool isCount = false;
            const int skip = count.toInt(&isCount);
            if (!isCount || skip < 0) {
                Finish(step, QStringLiteral("no step count"));
            } else {
                if (AnyLineMatches(FileLines(first), pattern))
                    m_next = qMin(m_steps.size(), m_next + skip);
                Finish(step);
            }
        } else if (verb == QLatin1String("key")) {
            Finish(step, PressKey(rest));
        } else if (verb == QLatin1String("click")) {
            Finish(step, Click(rest));
        } else if (verb == QLatin1String("grab")) {
            Finish(step, Grab(first, afterFirst));
        } else if (verb == QLatin1String("dump")) {
            Finish(step, Dump(rest));
        } else if (verb == QLatin1String("trigger")) {
            Finish(step, Trigger(rest));
        } else if (verb == QLatin1String("type")) {
            Finish(step, Type(rest));
        } else if (verb == QLatin1String("tooltip") && numeric) {
            Finish(step, Tooltip(ms));
        } else if (verb == QLatin1String("grabscreen")) {
            Finish(step, GrabScreen(rest));
        } else if (verb == QLatin1String("close")) {
            // Closing the last window ends the program, so the log is written first.
            QWidget* window = rest.isEmpty() ? nullptr : WindowTitled(rest);
            if (!rest.isEmpty() && window == nullptr) {
                Finish(step, QStringLiteral("no such window"));
                return;
            }
            Log(QStringLiteral("ok ") + step);
            if (m_next >= m_steps.size())
                Log(QStringLiteral("done"));
            if (window != nullptr)
                window->close();
            else
                QApplication::closeAllWindows();
            if (m_next < m_steps.size())
                QTimer::singleShot(0, this, [this] { Next(); });
        } else {
            Finish(step, QStringLiteral("unknown step"));
        }
    }

    static QString PressKey(const QString& name) {
        const QKeySequence sequence = QKeySequence::fromString(name);
        if (sequence.isEmpty())
            return QStringLiteral("unknown key");
        const QKeyCombination combination = sequence[0];
        // Keys go to the active window, as typed; the main window is made active when no
        // window is (a closed dialog may leave none active).
        QWidget* window = QApplication::activeWindow();
        if (window == nullptr) {
            window = MainWindow();
            if (window == nullptr)
                return QStringLiteral("no window");
            window->activateWindow();
            QApplication::processEvents();
        }
        QWidget* target = QApplication::focusWidget() ? QApplication::focusWidget() : window;
        const QString text = combination.key() == Qt::Key_Space ? QStringLiteral(" ") : QString();
        QKeyEvent press(QEvent::KeyPress, combination.key(), combination.keyboardModifiers(), text);
        QKeyEvent release(QEvent::KeyRelease, combination.key(), combination.keyboardModifiers(),
                          text);
        QApplication::sendEvent(target, &press);
        QApplication::sendEvent(target, &release);
        return {};
    }

    static QString Click(const QString& caption) {
        for (QWidget* window : VisibleWindows()) {
            for (QAbstractButton* button : window->findChildren<QAbstractButton*>()) {
                if (button->isVisible() && Caption(button->text()) == caption) {
                    if (!button->isEnabled())
                        return QStringLiteral("the button is disabled");
                    button->click();
                    return {};
                }
            }
        }
        return QStringLiteral("no such button");
    }

    static QString Trigger(const QString& text) {
        for (QWidget* window : VisibleWindows()) {
            for (QAction* action : window->findChildren<QAction*>()) {
                if (Caption(action->text()) == text && action->isEnabled()) {
                    action->trigger();
                    return {};
                }
            }
        }
        return QStringLiteral("no such action");
    }

    static QString Type(const QString& text) {
        // Without a window manager the window may not be active; its focus child still counts.
        QWidget* target = QApplication::focusWidget();
        if (target == nullptr && MainWindow() != nullptr)
            target = MainWindow()->focusWidget();
        if (target == nullptr)
            return QStringLiteral("no focus");
        for (const QChar c : text) {
            const int key = c.isLetterOrNumber() ? int(c.toUpper().unicode()) : int(Qt::Key_Space);
            QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier, QString(c));
            QKeyEvent release(QEvent::KeyRelease, key, Qt::NoModifier, QString(c));
            QApplication::sendEvent(target, &press);
            QApplication::sendEvent(target, &release);
        }
        return {};
    }

    static QString Tooltip(int row) {
        QWidget* window = MainWindow();
        auto* view = window ? window->findChild<QAbstractItemView*>() : nullptr;
        if (view == nullptr)
            return QStringLiteral("no item view");
        QWidget* viewport = view->viewport();
        const QModelIndex top = view->indexAt(QPoint(1, 1));
        if (!top.isValid())
            return QStringLiteral("no rows");
        const QRect rect = view->visualRect(top.siblingAtRow(top.row() + row));
        if (!rect.isValid())
            return QStringLiteral("no such row");
        const QPoint at(viewport->width() / 4, rect.center().y());
        QHelpEvent help(QEvent::ToolTip, at, viewport->mapToGlobal(at));
        QApplication::sendEvent(viewport, &help);
        return {};
    }

    static QString GrabScreen(const QString& path) {
        QWidget* window = MainWindow();
        if (window == nullptr)
            return QStringLiteral("no window");
        QScreen* screen = window->screen();
        const QRect area = window->frameGeometry().intersected(screen->geometry());
        const QPixmap picture =
            screen->grabWindow(0, area.x(), area.y(), area.width(), area.height());
        if (picture.isNull() || !picture.save(path, "PNG"))
            return QStringLiteral("cannot write ") + path;
        return {};
    }

    static QString Grab(const QString& path, const QString& title) {
        QWidget* window = WindowTitled(title);
        if (window == nullptr)
            return QStringLiteral("no such window");
        if (!window->grab().save(path, "PNG"))
            return QStringLiteral("cannot write ") + path;
        return {};
    }

    static QString Dump(const QString& path) {
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Text))
            return QStringLiteral("cannot write ") + path;
        file.write((WindowText().join(QLatin1Char('\n')) + QLatin1Char('\n')).toUtf8());
        return {};
    }

    QFile m_log;
    QStringList m_steps;
    qsizetype m_next = 0;
};

} // namespace

class ProbePlugin : public QGenericPlugin {
    Q_OBJECT
    Q_PLUGIN_METADATA(IID QGenericPluginFactoryInterface_iid FILE "ui_probe.json")

public:
    QObject* create(const QString& key, const QString& steps) override {
        if (key.compare(QLatin1String("kestromprobe"), Qt::CaseInsensitive) != 0)
            return nullptr;
        return new Probe(steps);
    }
};

#include "ui_probe.moc"
