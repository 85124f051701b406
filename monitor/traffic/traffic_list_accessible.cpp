#include "monitor/traffic/traffic_list_accessible.h"

#include "monitor/traffic/traffic_list.h"

#include <QAccessibleWidget>
#include <QHash>

namespace {

// Children kept at most: a few screens of rows. A reader walking through a million lines, or
// asking for each line as it arrives, then holds a bounded set, whatever the list's length.
constexpr int kMaxChildren = 256;

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
        if (const auto kept = m_children.find(index); kept != m_children.end()) {
            if (QAccessibleInterface* cached = QAccessible::accessibleInterface(kept->id)) {
                kept->used = ++m_uses;
                return cached;
            }
            m_children.erase(kept);
        }
        if (m_children.size() >= kMaxChildren)
            DropLeastRecentlyUsed();
        auto* line = new CTrafficLineAccessible(List(), index);
        m_children.insert(index, {QAccessible::registerAccessibleInterface(line), ++m_uses});
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
        for (const Child& kept : std::as_const(m_children))
            QAccessible::deleteAccessibleInterface(kept.id);
        m_children.clear();
    }

private:
    struct Child {
        QAccessible::Id id;
        quint64 used; // when a reader last asked for it
    };

    CTrafficList* List() const { return static_cast<CTrafficList*>(widget()); }

    // Makes room for one more child: the one asked for longest ago goes, sparing the current
    // row and the rows on screen, which a reader is most likely to hold.
    void DropLeastRecentlyUsed() const {
        const CTrafficList* list = List();
        const QModelIndex top = list->indexAt(QPoint(0, 0));
        const QModelIndex bottom = list->indexAt(QPoint(0, list->viewport()->height() - 1));
        const int first = top.isValid() ? top.row() : 0;
        const int last = bottom.isValid() ? bottom.row() : childCount() - 1;
        const int current = list->currentIndex().isValid() ? list->currentIndex().row() : -1;
        auto victim = m_children.end();
        auto oldest = m_children.end();
        for (auto it = m_children.begin(); it != m_children.end(); ++it) {
            if (oldest == m_children.end() || it->used < oldest->used)
                oldest = it;
            const bool spared = it.key() == current || (it.key() >= first && it.key() <= last);
            if (!spared && (victim == m_children.end() || it->used < victim->used))
                victim = it;
        }
        if (victim == m_children.end())
            victim = oldest;
        QAccessible::deleteAccessibleInterface(victim->id);
        m_children.erase(victim);
    }

    mutable QHash<int, Child> m_children;
    mutable quint64 m_uses = 0;
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
