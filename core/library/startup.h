#pragma once

#include <QStringList>

// The file to open given by "--play FILE": the first "--play" only (case-sensitive),
// and only when a file exists at the path after it. Empty otherwise.
QString playArgument(const QStringList &arguments);
