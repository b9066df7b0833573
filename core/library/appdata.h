#pragma once

#include <QString>

// Where the program's own files (the picture, the demo lesson) are: beside the executable
// when they are there (a build tree), otherwise the installed data directory.
QString appDataDirectory();
