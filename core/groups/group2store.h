#pragma once

#include <QList>

#include <limits>

// Group 2 in the settings store: the top-level array "Group2", one "index" per entry.
namespace Group2Store {
// At most `limit` entries: the store's own count may be anything.
QList<int> read(int limit = std::numeric_limits<int>::max());
void write(const QList<int> &indexes);
} // namespace Group2Store
