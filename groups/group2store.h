#pragma once

#include <QList>

// Group 2 in the settings store: the top-level array "Group2", one "index" per entry.
namespace Group2Store {
QList<int> read();
void write(const QList<int> &indexes);
} // namespace Group2Store
