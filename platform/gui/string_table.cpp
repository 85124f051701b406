#include "platform/gui/string_table.h"

#include <QMutex>
#include <map>

namespace platform {
namespace {

struct StringTable {
    QMutex mutex;
    std::map<int, QString> strings{{IdsIdleMessage, QStringLiteral("Ready")}};
};

StringTable& Table() {
    static StringTable table;
    return table;
}

} // namespace

void AddStrings(std::initializer_list<std::pair<int, QString>> strings) {
    StringTable& table = Table();
    QMutexLocker lock(&table.mutex);
    for (const auto& [id, text] : strings) {
        table.strings[id] = text;
    }
}

QString LoadString(int id) {
    StringTable& table = Table();
    QMutexLocker lock(&table.mutex);
    auto found = table.strings.find(id);
    return found == table.strings.end() ? QString() : found->second;
}

bool HasString(int id) {
    StringTable& table = Table();
    QMutexLocker lock(&table.mutex);
    return table.strings.count(id) != 0;
}

} // namespace platform
