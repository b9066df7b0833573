#include "core/library/appdata.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>

QString appDataDirectory()
{
    const QString beside = QCoreApplication::applicationDirPath();
    if (QFile::exists(beside + "/donation.jpg"))
        return beside;
#ifdef ORVILOOP_INSTALL_DATADIR
    const QString installed = QStringLiteral(ORVILOOP_INSTALL_DATADIR);
    if (QFile::exists(installed + "/donation.jpg"))
        return QDir::cleanPath(installed);
#endif
    return beside;
}
