#include "core/settings/settings.h"

#include "core/library/appdata.h"

#include <QSettings>

#include <algorithm>
#include <cmath>

namespace {

// A damaged or hand-edited store may hold anything: a number outside a list's rows reads as the
// list's default, text reads as 0 as any QVariant does.
PlayMode storedPlayMode(int mode)
{
    return mode >= 0 && mode <= 2 ? PlayMode(mode) : PlayMode::Repeat;
}

SubtitleDisplay storedSubtitleDisplay(int display)
{
    return display >= 0 && display <= 3 ? SubtitleDisplay(display) : SubtitleDisplay::Always;
}

PlayGroup storedPlayGroup(int group)
{
    return group >= 0 && group <= 2 ? PlayGroup(group) : PlayGroup::All;
}

double storedPlayRate(double rate)
{
    return std::isfinite(rate) ? rate : 1.0;
}

QString lessonGroup(const QString &lesson)
{
    return QString("files/%1").arg(qHash(lesson, 0));
}

} // namespace

Settings Settings::load()
{
    QSettings store(organisation, application);
    Settings settings;
    store.beginGroup("global");
    settings.rootDir = store.value("rootDir", appDataDirectory()).toString();
    settings.lastFile = store.value("lastFile").toString();
    settings.playMode = storedPlayMode(store.value("playMode", int(PlayMode::Repeat)).toInt());
    settings.repeatCount = std::max(1, store.value("repeatCount", 1).toInt());
    settings.subtitleDisplay = storedSubtitleDisplay(store.value("subtitleDisplayMode", 0).toInt());
    settings.playRate = storedPlayRate(store.value("playRate", 1.0).toDouble());
    settings.playGroup = storedPlayGroup(store.value("playGroup", 0).toInt());
    settings.filterChinese = store.value("filterChineseEnabled", false).toBool();
    settings.hwDecode = store.value("hwDecode", true).toBool();
    settings.recordTakes = store.value("recordTakes", false).toBool();
    settings.shadowPause = std::clamp(store.value("shadowPause", 0).toInt(), 0, 3);
    settings.passRates = store.value("passRates").toString();
    settings.subtitleLanguage = store.value("subtitleLanguage").toString();
    store.endGroup();
    settings.windowGeometry = store.value("ui/geometry").toByteArray();
    settings.windowState = store.value("ui/windowState").toByteArray();
    return settings;
}

void Settings::save() const
{
    QSettings store(organisation, application);
    store.beginGroup("global");
    store.setValue("rootDir", rootDir);
    store.setValue("lastFile", lastFile);
    store.setValue("playMode", int(playMode));
    store.setValue("repeatCount", repeatCount);
    store.setValue("subtitleDisplayMode", int(subtitleDisplay));
    // "playbackRate" and "currentGroup" are read by nobody; files written by earlier versions
    // have them, so they stay, with the same values as the keys that are read.
    store.setValue("playRate", playRate);
    store.setValue("playbackRate", playRate);
    store.setValue("playGroup", int(playGroup));
    store.setValue("currentGroup", int(playGroup));
    store.setValue("filterChineseEnabled", filterChinese);
    store.setValue("hwDecode", hwDecode);
    store.setValue("recordTakes", recordTakes);
    store.setValue("shadowPause", shadowPause);
    store.setValue("passRates", passRates);
    if (!subtitleLanguage.isEmpty())
        store.setValue("subtitleLanguage", subtitleLanguage);
    else
        store.remove("subtitleLanguage");
    store.endGroup();
    if (!windowGeometry.isEmpty())
        store.setValue("ui/geometry", windowGeometry);
    if (!windowState.isEmpty())
        store.setValue("ui/windowState", windowState);
    store.sync();
}

LessonPlace LessonPlace::load(const QString &lesson)
{
    QSettings store(Settings::organisation, Settings::application);
    store.beginGroup(lessonGroup(lesson));
    LessonPlace place;
    place.position = store.value("position", qint64(0)).toLongLong();
    place.repeatCounter = store.value("repeatCounter", 0).toInt();
    place.sentence = store.value("sentence", -1).toInt();
    return place;
}

void LessonPlace::save(const QString &lesson) const
{
    QSettings store(Settings::organisation, Settings::application);
    store.beginGroup(lessonGroup(lesson));
    store.setValue("position", position);
    store.setValue("repeatCounter", repeatCounter);
    store.setValue("sentence", sentence);
    store.endGroup();
    store.sync();
}
