#include "platform/gui/form.h"

#include "platform/gui/attach_hook.h"
#include "platform/gui/data_exchange.h"
#include "platform/gui/single_line_static.h"
#include "platform/gui/window_class.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QEvent>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>

namespace platform {
namespace {

bool IsRadio(const DialogItem& item) {
    const std::uint32_t type = item.style & BsTypeMask;
    return item.className == QLatin1String("Button") && (type == 0x4 || type == BsAutoRadioButton);
}

QWidget* CreateButton(const DialogItem& item, QWidget* parent) {
    const std::uint32_t type = item.style & BsTypeMask;
    switch (type) {
    case 0x2: // check boxes, two- and three-state
    case BsAutoCheckBox:
    case 0x5:
    case 0x6: {
        if ((item.style & BsPushLike) != 0) {
            auto* button = new QPushButton(item.text, parent);
            button->setCheckable(true);
            button->setAutoDefault(false);
            return button;
        }
        auto* box = new QCheckBox(item.text, parent);
        box->setTristate(type == 0x5 || type == 0x6);
        return box;
    }
    case 0x4:
    case BsAutoRadioButton:
        return new QRadioButton(item.text, parent);
    case BsGroupBox:
        return new QGroupBox(item.text, parent);
    default: { // push buttons, owner-drawn buttons
        auto* button = new QPushButton(item.text, parent);
        button->setAutoDefault(false);
        button->setDefault(type == BsDefPushButton);
        return button;
    }
    }
}

// Statics less than two text lines high, or centred vertically, hold a single line.
bool IsSingleLine(const DialogItem& item) {
    return (item.style & SsCenterImage) != 0 || item.rect.height() < 16;
}

QWidget* CreateStatic(const DialogItem& item, QWidget* parent) {
    const std::uint32_t type = item.style & SsTypeMask;
    const bool singleLine = type <= SsRight && IsSingleLine(item);
    QLabel* label =
        singleLine ? new SingleLineStatic(item.text, parent) : new QLabel(item.text, parent);
    Qt::Alignment horizontal = Qt::AlignLeft;
    if (type == SsCenter) {
        horizontal = Qt::AlignHCenter;
    } else if (type == SsRight) {
        horizontal = Qt::AlignRight;
    }
    const Qt::Alignment vertical =
        (item.style & SsCenterImage) != 0 ? Qt::AlignVCenter : Qt::AlignTop;
    label->setAlignment(horizontal | vertical);
    label->setWordWrap(type <= SsRight && !singleLine); // taller texts wrap
    label->setTextFormat(Qt::PlainText);
    if ((item.style & SsSunken) != 0) {
        label->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    }
    return label;
}

QWidget* CreateCombo(const DialogItem& item, QWidget* parent) {
    auto* combo = new QComboBox(parent);
    const std::uint32_t type = item.style & 0x3;
    combo->setEditable(type != CbsDropDownList);
    combo->setInsertPolicy(QComboBox::NoInsert);
    return combo;
}

QWidget* CreateList(const DialogItem& item, QWidget* parent) {
    auto* list = new QListWidget(parent);
    list->setSelectionMode((item.style & LbsNoSel) != 0 ? QAbstractItemView::NoSelection
                                                        : QAbstractItemView::SingleSelection);
    list->setSortingEnabled((item.style & LbsSort) != 0);
    list->setHorizontalScrollBarPolicy((item.style & WsHScroll) != 0 ? Qt::ScrollBarAsNeeded
                                                                     : Qt::ScrollBarAlwaysOff);
    list->setVerticalScrollBarPolicy((item.style & WsVScroll) != 0 ? Qt::ScrollBarAsNeeded
                                                                   : Qt::ScrollBarAlwaysOff);
    return list;
}

// Reports focus loss of the controls it watches.
class FocusOutWatcher : public QObject {
public:
    explicit FocusOutWatcher(std::function<void(QWidget*)> onFocusOut)
        : onFocusOut_(std::move(onFocusOut)) {}

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::FocusOut && watched->isWidgetType()) {
            onFocusOut_(static_cast<QWidget*>(watched));
        }
        return false;
    }

private:
    std::function<void(QWidget*)> onFocusOut_;
};

} // namespace

struct Form::Private {
    // The context of every connection and the focus filter: they end with the form.
    FocusOutWatcher watcher;
    explicit Private(Form& form)
        : watcher([&form](QWidget* control) {
              const int id = GetControlId(control);
              if (id != 0 && form.Item(id) == control) {
                  form.Dispatch(id, Notify::KillFocus);
              }
          }) {}
};

Form::Form(QWidget& surface) : surface_(surface), private_(std::make_unique<Private>(*this)) {}

Form::~Form() = default;

void Form::Create(const DialogTemplate& form) {
    const QFont font = TemplateFont(form);
    surface_.setFont(font);
    baseUnits_ = DialogBaseUnits(font);
    designedSize_ = DialogUnitsToPixels(QRect(QPoint(0, 0), form.size), baseUnits_).size();

    QButtonGroup* group = nullptr;
    int groupFirst = 0;
    for (const DialogItem& item : form.items) {
        if ((item.style & WsGroup) != 0) {
            group = nullptr; // a group ends where the next one starts
        }
        QWidget* control = CreateControl(item);
        if (IsRadio(item)) {
            if (group == nullptr) {
                group = new QButtonGroup(&surface_);
                groupFirst = item.id;
            }
            group->addButton(static_cast<QAbstractButton*>(control));
            radioGroupOf_[item.id] = groupFirst;
        }
        if (item.id != 0 && item.id != -1) {
            controls_[item.id] = control;
            order_.append(item.id);
            Wire(item.id, control);
        }
    }
}

QWidget* Form::CreateControl(const DialogItem& item) {
    QWidget* control = nullptr;
    if (item.className == QLatin1String("Button")) {
        control = CreateButton(item, &surface_);
    } else if (item.className == QLatin1String("Static")) {
        control = CreateStatic(item, &surface_);
    } else if (item.className == QLatin1String("Edit")) {
        auto* edit = new QLineEdit(&surface_);
        edit->setReadOnly((item.style & EsReadOnly) != 0);
        control = edit;
    } else if (item.className == QLatin1String("ComboBox")) {
        control = CreateCombo(item, &surface_);
    } else if (item.className == QLatin1String("ListBox")) {
        control = CreateList(item, &surface_);
    } else {
        // A custom class or a list view: a placeholder that the bound control replaces.
        control = new QWidget(&surface_);
        control->setWindowTitle(item.text);
    }
    SetClassName(control, item.className);
    SetStyle(control, item.style);
    SetControlId(control, item.id);
    control->setObjectName(QStringLiteral("control%1").arg(item.id));

    QRect rect = DialogUnitsToPixels(item.rect, baseUnits_);
    if (auto* combo = qobject_cast<QComboBox*>(control)) {
        // The template's height includes the dropped-down list; the box itself is one line.
        rect.setHeight(combo->sizeHint().height());
    }
    control->setGeometry(rect);
    control->setEnabled((item.style & WsDisabled) == 0);
    if ((item.style & WsTabStop) == 0 && control->focusPolicy() != Qt::NoFocus) {
        control->setFocusPolicy(Qt::ClickFocus);
    }
    control->setVisible((item.style & WsVisible) != 0);
    return control;
}

QWidget* Form::Item(int id) const {
    auto found = controls_.find(id);
    return found == controls_.end() ? nullptr : found->second;
}

bool Form::Attach(int id, QWidget& control) {
    auto found = controls_.find(id);
    if (found == controls_.end()) {
        return false;
    }
    QWidget* former = found->second;
    if (former == &control) {
        return true;
    }
    QWidget* before = former->previousInFocusChain();
    if (control.parentWidget() != &surface_) {
        control.setParent(&surface_);
    }
    control.setGeometry(former->geometry());
    SetClassName(&control, GetClassName(former));
    SetStyle(&control, GetStyle(former));
    SetControlId(&control, id);
    if (former->testAttribute(Qt::WA_SetFont)) {
        control.setFont(former->font());
    }
    SetWindowText(&control, GetWindowText(former));
    control.setEnabled(former->isEnabled());
    control.stackUnder(former);
    if (before != nullptr && before != former && before->window() == control.window()) {
        QWidget::setTabOrder(before, &control);
    }
    for (QButtonGroup* group : surface_.findChildren<QButtonGroup*>()) {
        auto* formerButton = qobject_cast<QAbstractButton*>(former);
        auto* button = qobject_cast<QAbstractButton*>(&control);
        if (formerButton != nullptr && button != nullptr &&
            group->buttons().contains(formerButton)) {
            group->removeButton(formerButton);
            group->addButton(button);
        }
    }
    control.setVisible(!former->isHidden());
    found->second = &control;
    Wire(id, &control);
    if (replaceObserver_) {
        replaceObserver_(former, &control);
    }
    delete former;
    if (auto* hook = dynamic_cast<AttachHook*>(&control)) {
        hook->OnAttach();
    }
    return true;
}

void Form::SetReplaceObserver(std::function<void(QWidget*, QWidget*)> observer) {
    replaceObserver_ = std::move(observer);
}

void Form::OnCommand(int id, Notify code, std::function<void()> handler) {
    handlers_[{id, code}] = std::move(handler);
}

QList<QWidget*> Form::RadioGroup(int firstId) const {
    QList<QWidget*> buttons;
    for (int id : order_) {
        auto found = radioGroupOf_.find(id);
        if (found != radioGroupOf_.end() && found->second == firstId) {
            buttons.append(Item(id));
        }
    }
    return buttons;
}

void Form::Wire(int id, QWidget* control) {
    QObject* context = &private_->watcher;
    if (auto* button = qobject_cast<QAbstractButton*>(control)) {
        QObject::connect(button, &QAbstractButton::clicked, context,
                         [this, id] { Dispatch(id, Notify::Clicked); });
    } else if (auto* combo = qobject_cast<QComboBox*>(control)) {
        QObject::connect(combo, &QComboBox::activated, context,
                         [this, id] { Dispatch(id, Notify::SelChange); });
    } else if (auto* list = qobject_cast<QListWidget*>(control)) {
        QObject::connect(list, &QListWidget::currentRowChanged, context,
                         [this, id] { Dispatch(id, Notify::SelChange); });
    } else if (auto* edit = qobject_cast<QLineEdit*>(control)) {
        QObject::connect(edit, &QLineEdit::textEdited, context,
                         [this, id] { Dispatch(id, Notify::Change); });
    }
    control->installEventFilter(context);
}

void Form::Dispatch(int id, Notify code) {
    auto found = handlers_.find({id, code});
    if (found != handlers_.end()) {
        std::function<void()> handler = found->second; // the handler may remap commands
        handler();
    }
}

} // namespace platform
