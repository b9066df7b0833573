#pragma once

#include <QCoreApplication>
#include <QSettings>
#include <QStandardPaths>
#include <QTemporaryDir>

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
