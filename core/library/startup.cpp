#include "core/library/startup.h"

#include <QFile>

QString playArgument(const QStringList &arguments)
{
    const int option = arguments.indexOf(QStringLiteral("--play"));
    if (option < 0 || option + 1 >= arguments.size())
        return {};
    const QString path = arguments.at(option + 1);
    return QFile::exists(path) ? path : QString();
}
