#include "monitor/traffic/traffic_list_accessible.h"

#include "monitor/traffic/traffic_list.h"

#include <QAccessibleWidget>
#include <QHash>

namespace {

class CTrafficLineAccessible : public QAccessibleInterface {
public:
    CTrafficLineAccessible(CTrafficList* list, int row) : m_list(list), m_row(row) {}

    bool isValid() const override { return m_list != nullptr && m_row < RowCount(); }
    QObject* object() const override { return nullptr; }
    QWindow* window() const override { return m_list ? m_list->windowHandle() : nullptr; }
    QAccessibleInterface* parent() const override {
        return QAccessible::queryAccessibleInterface(m_list);
    }
    QAccessibleInterface* child(int) const override { return nullptr; }
    int childCount() const override { return 0; }
    int indexOfChild(const QAccessibleInterface*) const override { return -1; }
    QAccessibleInterface* childAt(int, int) const override { return nullptr; }

    QString text(QAccessible::Text t) const override {
        if (!isValid())
            return {};
        if (t == QAccessible::Name)
            return QString::fromLatin1(m_list->LineText(m_row));
        if (t == QAccessible::Description)
            return m_list->LineMeaningText(m_row);
        return {};
    }
    void setText(QAccessible::Text, const QString&) override {}
    QRect rect() const override {
        if (!isValid())
            return {};
        const QRect local = m_list->visualRect(m_list->model()->index(m_row, 0));
        const QRect shown = local.intersected(m_list->viewport()->rect());
        if (shown.isEmpty())
            return {};
        return QRect(m_list->viewport()->mapToGlobal(shown.topLeft()), shown.size());
    }
    QAccessible::Role role() const override { return QAccessible::ListItem; }
    QAccessible::State state() const override {
        QAccessible::State s;
        if (!isValid()) {
            s.invalid = true;
            return s;
        }
        s.selectable = true;
        s.multiSelectable = true;
        s.extSelectable = true;
        s.focusable = true;
        const QModelIndex index = m_list->model()->index(m_row, 0);
        s.selected = m_list->selectionModel()->isSelected(index);
        s.focused = m_list->hasFocus() && m_list->currentIndex() == index;
        const QRect local = m_list->visualRect(index);
        s.offscreen = !local.intersects(m_list->viewport()->rect());
        return s;
    }
    int Row() const { return m_row; }

private:
    int RowCount() const { return m_list->model()->rowCount(); }

    QPointer<CTrafficList> m_list;
    int m_row;
};

class CTrafficListAccessible : public QAccessibleWidget {
public:
    explicit CTrafficListAccessible(CTrafficList* list)
        : QAccessibleWidget(list, QAccessible::List) {}
    ~CTrafficListAccessible() override { DropChildren(); }

    int childCount() const override { return List()->model()->rowCount(); }
    QAccessibleInterface* child(int index) const override {
        if (index < 0 || index >= childCount())
            return nullptr;
        if (const auto id = m_children.value(index, 0); id != 0)
            if (QAccessibleInterface* cached = QAccessible::accessibleInterface(id))
                return cached;
        auto* line = new CTrafficLineAccessible(List(), index);
        m_children.insert(index, QAccessible::registerAccessibleInterface(line));
        return line;
    }
    int indexOfChild(const QAccessibleInterface* child) const override {
        if (child == nullptr || child->role() != QAccessible::ListItem || child->parent() != this)
            return -1;
        return static_cast<const CTrafficLineAccessible*>(child)->Row();
    }
    QAccessibleInterface* childAt(int x, int y) const override {
        const QPoint local = List()->viewport()->mapFromGlobal(QPoint(x, y));
        const QModelIndex index = List()->indexAt(local);
        return index.isValid() && List()->viewport()->rect().contains(local) ? child(index.row())
                                                                             : nullptr;
    }
    void DropChildren() {
        for (const QAccessible::Id id : std::as_const(m_children))
            QAccessible::deleteAccessibleInterface(id);
        m_children.clear();
    }

private:
    CTrafficList* List() const { return static_cast<CTrafficList*>(widget()); }

    mutable QHash<int, QAccessible::Id> m_children;
};

} // namespace

QAccessibleInterface* TrafficListAccessibleFactory(const QString&, QObject* object) {
    // The list has no meta-object of its own, so it is told apart by its type.
    auto* list = dynamic_cast<CTrafficList*>(object);
    if (list == nullptr)
        return nullptr;
    auto* iface = new CTrafficListAccessible(list);
    list->m_accessible = iface;
    return iface;
}

void DropTrafficLineAccessibles(CTrafficList& list) {
    // Only an interface that exists has children to drop; none is made for it.
    if (auto* iface = list.m_accessible)
        static_cast<CTrafficListAccessible*>(iface)->DropChildren();
}
