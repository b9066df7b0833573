#pragma once

#include <QTextStream>

#include <cstdio>

// The command-line tools' standard output and error, as text streams in UTF-8.
inline QTextStream &out()
{
    static QTextStream stream(stdout);
    return stream;
}

inline QTextStream &err()
{
    static QTextStream stream(stderr);
    return stream;
}
