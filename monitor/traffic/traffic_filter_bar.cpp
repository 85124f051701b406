#include "monitor/traffic/traffic_filter_bar.h"

#include "monitor/traffic/traffic_list.h"

#include <QAction>
#include <QComboBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QRegularExpressionValidator>
#include <QToolButton>

CTrafficFilterBar::CTrafficFilterBar(CTrafficList& list, QWidget* parent)
    : CListBar(list, parent, Edge::Top, QStringLiteral("Filter..."),
               QKeySequence(Qt::CTRL | Qt::Key_L)),
      m_mode(new QComboBox(this)), m_kind(new QComboBox(this)), m_opcode(new QLineEdit(this)),
      m_count(new QLabel(this)), m_clear(new QToolButton(this)), m_close(new QToolButton(this)) {
    setObjectName(QStringLiteral("filterBar"));
    setAccessibleName(QStringLiteral("Filter"));

    auto* show = new QLabel(QStringLiteral("F&ilter:"), this);
    show->setBuddy(m_mode);
    m_mode->addItem(QStringLiteral("Only"));
    m_mode->addItem(QStringLiteral("All but"));
    m_mode->setAccessibleName(QStringLiteral("Show only or hide"));
    m_kind->addItem(QStringLiteral("any kind"));
    for (int k = 0; k < kLineKindCount; ++k)
        m_kind->addItem(QString::fromLatin1(LineKindName(static_cast<LineKind>(k))), k);
    m_kind->setAccessibleName(QStringLiteral("Message kind"));
    auto* opcodeLabel = new QLabel(QStringLiteral("&Opcode:"), this);
    opcodeLabel->setBuddy(m_opcode);
    m_opcode->setAccessibleName(QStringLiteral("Opcode"));
    m_opcode->setPlaceholderText(QStringLiteral("any"));
    m_opcode->setMaxLength(2);
    m_opcode->setValidator(new QRegularExpressionValidator(
        QRegularExpression(QStringLiteral("[89A-Fa-f][0-9A-Fa-f]?")), m_opcode));
    m_opcode->setFixedWidth(m_opcode->fontMetrics().horizontalAdvance(QStringLiteral("WWWW")));
    m_count->setAccessibleName(QStringLiteral("Lines shown"));
    m_clear->setText(QStringLiteral("Clear"));
    m_clear->setAccessibleName(QStringLiteral("Clear filter"));
    m_clear->setToolTip(QStringLiteral("Show every line again"));
    m_close->setText(QStringLiteral("\u2715"));
    m_close->setAccessibleName(QStringLiteral("Close filter bar"));
    m_close->setToolTip(QStringLiteral("Close and show every line (Esc)"));
    m_close->setAutoRaise(true);

    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(4, 2, 4, 2);
    layout->addWidget(show);
    layout->addWidget(m_mode);
    layout->addWidget(m_kind);
    layout->addWidget(opcodeLabel);
    layout->addWidget(m_opcode);
    layout->addWidget(m_count, 1);
    layout->addWidget(m_clear);
    layout->addWidget(m_close);

    connect(m_mode, &QComboBox::currentIndexChanged, this, [this] { Apply(); });
    connect(m_kind, &QComboBox::currentIndexChanged, this, [this] { Apply(); });
    connect(m_opcode, &QLineEdit::textChanged, this, [this] { Apply(); });
    connect(m_clear, &QToolButton::clicked, this, [this] { ClearFilter(); });
    connect(m_close, &QToolButton::clicked, this, [this] { Close(); });

    QAbstractItemModel* model = m_list.model();
    auto refresh = [this] {
        if (isVisible())
            ShowCount();
    };
    connect(model, &QAbstractItemModel::rowsInserted, this, refresh);
    connect(model, &QAbstractItemModel::modelReset, this, refresh);
}

void CTrafficFilterBar::Open() {
    ShowOnList();
    m_kind->setFocus(Qt::ShortcutFocusReason);
    ShowCount();
}

void CTrafficFilterBar::Close() {
    ClearFilter();
    HideFromList();
}

void CTrafficFilterBar::ClearFilter() {
    SetCriteria({});
}

void CTrafficFilterBar::SetCriteria(const FilterCriteria& criteria) {
    m_applying = true;
    m_mode->setCurrentIndex(criteria.mode == FilterCriteria::Mode::Hide ? 1 : 0);
    m_kind->setCurrentIndex(criteria.kind ? static_cast<int>(*criteria.kind) + 1 : 0);
    m_opcode->setText(
        criteria.opcode >= 0
            ? QStringLiteral("%1").arg(criteria.opcode, 2, 16, QLatin1Char('0')).toUpper()
            : QString());
    m_applying = false;
    Apply();
}

void CTrafficFilterBar::Apply() {
    if (m_applying)
        return;
    FilterCriteria criteria;
    criteria.mode =
        m_mode->currentIndex() == 1 ? FilterCriteria::Mode::Hide : FilterCriteria::Mode::Only;
    if (m_kind->currentIndex() > 0)
        criteria.kind = static_cast<LineKind>(m_kind->currentData().toInt());
    bool ok = false;
    const int opcode = m_opcode->text().toInt(&ok, 16);
    // One digit is an opcode still being typed: no filter by opcode yet.
    if (ok && m_opcode->text().size() == 2)
        criteria.opcode = opcode;
    m_list.SetFilter(criteria);
    ShowCount();
}

QString CTrafficFilterBar::CountText() const {
    const QLocale locale;
    const qint64 total = m_list.LineCount();
    const qint64 shown = m_list.model()->rowCount();
    if (!m_list.Model().Filter().Active())
        return QStringLiteral("All %1 lines shown").arg(locale.toString(total));
    return QStringLiteral("%1 shown, %2 hidden")
        .arg(locale.toString(shown), locale.toString(std::max<qint64>(0, total - shown)));
}

void CTrafficFilterBar::ShowCount() {
    m_count->setText(CountText());
}
