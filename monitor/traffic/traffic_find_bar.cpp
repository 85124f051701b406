#include "monitor/traffic/traffic_find_bar.h"

#include "monitor/traffic/traffic_list.h"

#include <QAction>
#include <QEvent>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpressionValidator>
#include <QToolButton>

CTrafficFindBar::CTrafficFindBar(CTrafficList& list, QWidget* parent)
    : CListBar(list, parent, Edge::Bottom, QStringLiteral("Find..."), QKeySequence::Find),
      m_edit(new QLineEdit(this)), m_next(new QPushButton(QStringLiteral("Next"), this)),
      m_previous(new QPushButton(QStringLiteral("Previous"), this)), m_result(new QLabel(this)),
      m_close(new QToolButton(this)) {
    setObjectName(QStringLiteral("findBar"));
    setAccessibleName(QStringLiteral("Find"));
    auto* label = new QLabel(QStringLiteral("&Find:"), this);
    label->setBuddy(m_edit);
    m_edit->setAccessibleName(QStringLiteral("Find"));
    m_edit->setPlaceholderText(QStringLiteral("hex bytes, e.g. B0 01"));
    // Only what a line's bytes can hold: hex digits, blanks and the dash of raw lines.
    m_edit->setValidator(new QRegularExpressionValidator(
        QRegularExpression(QStringLiteral("[0-9A-Fa-f \\-]*")), m_edit));
    m_next->setToolTip(QStringLiteral("Next match (Enter)"));
    m_previous->setToolTip(QStringLiteral("Previous match (Shift+Enter)"));
    m_next->setAutoDefault(false);
    m_previous->setAutoDefault(false);
    m_result->setMinimumWidth(
        m_result->fontMetrics().horizontalAdvance(QStringLiteral("0000000 of 0000000")));
    m_close->setText(QStringLiteral("\u2715"));
    m_close->setAccessibleName(QStringLiteral("Close find bar"));
    m_close->setToolTip(QStringLiteral("Close (Esc)"));
    m_close->setAutoRaise(true);

    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(4, 2, 4, 2);
    layout->addWidget(label);
    layout->addWidget(m_edit, 1);
    layout->addWidget(m_next);
    layout->addWidget(m_previous);
    layout->addWidget(m_result);
    layout->addWidget(m_close);

    connect(m_edit, &QLineEdit::textChanged, this, [this] { PatternChanged(); });
    connect(m_next, &QPushButton::clicked, this, [this] { FindNext(); });
    connect(m_previous, &QPushButton::clicked, this, [this] { FindPrevious(); });
    connect(m_close, &QToolButton::clicked, this, [this] { Close(); });

    // New lines may match too; the count follows them while the bar is open.
    QAbstractItemModel* model = m_list.model();
    auto refresh = [this] {
        if (isVisible())
            ShowResult();
    };
    connect(model, &QAbstractItemModel::rowsInserted, this, refresh);
    connect(model, &QAbstractItemModel::modelReset, this, refresh);
    connect(model, &QAbstractItemModel::dataChanged, this, refresh);

    m_typingPause.setSingleShot(true);
    m_typingPause.setInterval(kTypingPauseMs);
    connect(&m_typingPause, &QTimer::timeout, this, [this] { Search(); });
    m_list.onFindRequested = [this] { Open(); };

    m_edit->installEventFilter(this);
}

void CTrafficFindBar::Open() {
    m_list.Publish();
    ShowOnList();
    m_edit->setFocus(Qt::ShortcutFocusReason);
    m_edit->selectAll();
    ShowResult();
}

void CTrafficFindBar::Close() {
    m_typingPause.stop();
    HideFromList();
}

bool CTrafficFindBar::eventFilter(QObject* watched, QEvent* event) {
    if (watched == m_edit && event->type() == QEvent::KeyPress) {
        const auto* key = static_cast<QKeyEvent*>(event);
        if (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) {
            if (key->modifiers() & Qt::ShiftModifier)
                FindPrevious();
            else
                FindNext();
            return true;
        }
    }
    return CListBar::eventFilter(watched, event);
}

std::int64_t CTrafficFindBar::CurrentRow() const {
    const QModelIndex current = m_list.currentIndex();
    return current.isValid() ? m_list.Model().StoreRow(current.row()) : -1;
}

void CTrafficFindBar::UpdateFinder() {
    m_finder.SetFilter(m_list.Model().Filter().Criteria()); // only lines shown are found
    m_finder.Update(m_list.Model().Store());
}

void CTrafficFindBar::PatternChanged() {
    m_finder.SetPattern(m_edit->text().toStdString());
    if (m_list.LineCount() > kSearchAsYouTypeLines) {
        m_typingPause.start();
        return;
    }
    Search();
}

void CTrafficFindBar::Search() {
    m_typingPause.stop();
    m_list.Publish();
    UpdateFinder();
    // The first match at or after the line the user is at, so that typing on narrows it down.
    const std::int64_t current = CurrentRow();
    if (!Go(m_finder.Next(current - 1)))
        ShowResult();
}

bool CTrafficFindBar::FindNext() {
    m_typingPause.stop();
    m_list.Publish();
    UpdateFinder();
    return Go(m_finder.Next(CurrentRow()));
}

bool CTrafficFindBar::FindPrevious() {
    m_typingPause.stop();
    m_list.Publish();
    UpdateFinder();
    return Go(m_finder.Previous(CurrentRow()));
}

bool CTrafficFindBar::Go(std::int64_t storeRow) {
    // Only lines the view shows can be selected; the store may hold a few more for a moment.
    const std::int64_t row = storeRow >= 0 ? m_list.Model().ViewRow(storeRow) : -1;
    if (row < 0 || row >= m_list.model()->rowCount() || m_list.Model().StoreRow(row) != storeRow) {
        ShowResult();
        return false;
    }
    m_list.SelectRow(static_cast<int>(row));
    ShowResult();
    return true;
}

QString CTrafficFindBar::ResultText() const {
    const auto total = static_cast<qint64>(m_finder.Matches().size());
    if (m_finder.Empty())
        return {};
    if (total == 0)
        return QStringLiteral("Not found");
    const std::int64_t index = m_finder.IndexOf(CurrentRow());
    return QStringLiteral("%1 of %2").arg(index < 0 ? 0 : index + 1).arg(total);
}

void CTrafficFindBar::ShowResult() {
    if (SearchPending())
        return; // the count follows when typing pauses
    UpdateFinder();
    m_result->setText(ResultText());
}
