#pragma once

#include <QCoreApplication>
#include <QObject>
#include <QFileInfo>
#include <QSettings>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QUrl>

// Points the settings store at a fresh temporary directory so that no test reads or
// writes the user's own settings, and names the store as the program does.
inline void useTemporarySettings(const QTemporaryDir &dir)
{
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, dir.path());
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, dir.path());
    QCoreApplication::setOrganizationName("Orvi");
    QCoreApplication::setApplicationName("OrviLoop");
}

inline void clearSettings()
{
    QSettings("Orvi", "OrviLoop").clear();
}

// The player may be handed a link to a lesson (see PlayableSource); true when source is
// the file at path, directly or through such a link.
inline bool sourceLeadsTo(const QUrl &source, const QString &path)
{
    return source.isLocalFile() &&
           QFileInfo(source.toLocalFile()).canonicalFilePath() == QFileInfo(path).canonicalFilePath();
}

// A control of a window, found by its object name (a form's controls are named as in the form).
template <class Control> Control *childNamed(const QObject &window, const char *name)
{
    auto *found = window.findChild<Control *>(name);
    if (!found)
        qFatal("no control named %s", name);
    return found;
}
