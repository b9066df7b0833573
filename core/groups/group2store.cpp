#include "core/groups/group2store.h"

#include <QSettings>

#include <algorithm>

namespace Group2Store {

QList<int> read(int limit)
{
    QSettings settings("Orvi", "OrviLoop");
    QList<int> indexes;
    const int size = std::min(settings.beginReadArray("Group2"), limit);
    for (int i = 0; i < size; ++i) {
        settings.setArrayIndex(i);
        // An entry missing from a damaged store names no sentence.
        indexes.append(settings.value("index", -1).toInt());
    }
    settings.endArray();
    return indexes;
}

void write(const QList<int> &indexes)
{
    QSettings settings("Orvi", "OrviLoop");
    settings.remove("Group2");
    settings.beginWriteArray("Group2");
    for (int i = 0; i < indexes.size(); ++i) {
        settings.setArrayIndex(i);
        settings.setValue("index", indexes.at(i));
    }
    settings.endArray();
    settings.sync();
}

} // namespace Group2Store
