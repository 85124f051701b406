#include "platform/gui/data_exchange.h"

#include "platform/gui/form.h"
#include "platform/gui/single_line_static.h"

#include <QAbstractButton>
#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>

namespace platform {

QString GetWindowText(const QWidget* control) {
    if (control == nullptr) {
        return {};
    }
    if (auto* button = qobject_cast<const QAbstractButton*>(control)) {
        return button->text();
    }
    if (auto* label = qobject_cast<const QLabel*>(control)) {
        return label->text();
    }
    if (auto* edit = qobject_cast<const QLineEdit*>(control)) {
        return edit->text();
    }
    if (auto* combo = qobject_cast<const QComboBox*>(control)) {
        return combo->currentText();
    }
    if (auto* group = qobject_cast<const QGroupBox*>(control)) {
        return group->title();
    }
    return control->windowTitle();
}

void SetWindowText(QWidget* control, const QString& text) {
    if (control == nullptr) {
        return;
    }
    if (auto* button = qobject_cast<QAbstractButton*>(control)) {
        button->setText(text);
    } else if (auto* label = qobject_cast<QLabel*>(control)) {
        label->setText(text);
        if (auto* line = dynamic_cast<SingleLineStatic*>(label)) {
            line->RefreshToolTip();
        }
    } else if (auto* edit = qobject_cast<QLineEdit*>(control)) {
        edit->setText(text);
    } else if (auto* combo = qobject_cast<QComboBox*>(control)) {
        if (combo->isEditable()) {
            combo->setEditText(text);
        } else {
            combo->setCurrentIndex(combo->findText(text));
        }
    } else if (auto* group = qobject_cast<QGroupBox*>(control)) {
        group->setTitle(text);
    } else {
        control->setWindowTitle(text);
    }
}

QWidget* DataExchange::Find(int id) {
    QWidget* control = form_.Item(id);
    if (control == nullptr) {
        Fail();
    }
    return control;
}

void DataExchange::Text(int id, QString& value) {
    QWidget* control = Find(id);
    if (control == nullptr) {
        return;
    }
    if (save_) {
        value = GetWindowText(control);
    } else {
        SetWindowText(control, value);
    }
}

void DataExchange::Check(int id, int& value) {
    auto* button = qobject_cast<QAbstractButton*>(Find(id));
    if (button == nullptr) {
        Fail();
        return;
    }
    auto* box = qobject_cast<QCheckBox*>(button);
    if (save_) {
        if (box != nullptr && box->checkState() == Qt::PartiallyChecked) {
            value = 2;
        } else {
            value = button->isChecked() ? 1 : 0;
        }
    } else if (box != nullptr && box->isTristate() && value == 2) {
        box->setCheckState(Qt::PartiallyChecked);
    } else {
        button->setChecked(value != 0);
    }
}

void DataExchange::Radio(int firstId, int& value) {
    const QList<QWidget*> buttons = form_.RadioGroup(firstId);
    if (buttons.isEmpty()) {
        Fail();
        return;
    }
    if (save_) {
        value = -1;
        for (int i = 0; i < buttons.size(); ++i) {
            auto* button = qobject_cast<QAbstractButton*>(buttons[i]);
            if (button != nullptr && button->isChecked()) {
                value = i;
                break;
            }
        }
        return;
    }
    for (int i = 0; i < buttons.size(); ++i) {
        auto* button = qobject_cast<QAbstractButton*>(buttons[i]);
        if (button == nullptr) {
            continue;
        }
        // An exclusive group keeps one button checked; unchecking all needs it off meanwhile.
        QButtonGroup* group = button->group();
        const bool exclusive = group != nullptr && group->exclusive();
        if (exclusive && i != value) {
            group->setExclusive(false);
        }
        button->setChecked(i == value);
        if (exclusive) {
            group->setExclusive(true);
        }
    }
}

void DataExchange::Control(int id, QWidget& control) {
    if (!form_.Attach(id, control)) {
        Fail();
    }
}

} // namespace platform
