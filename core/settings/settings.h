#pragma once

#include "core/drill/playmodes.h"

#include <QByteArray>
#include <QString>

// What the learner chose, kept across runs in the settings store (groups "global" and "ui" of
// ~/.config/Orvi/OrviLoop.conf). It is read whole and written whole; a writer loads, changes its
// own fields and saves at once, so that what another window stored meanwhile is kept.
struct Settings
{
    static constexpr const char *organisation = "Orvi";
    static constexpr const char *application = "OrviLoop";

    QString rootDir;  // the library's working directory
    QString lastFile; // the lesson played last: a path or a network address
    // As chosen: a lesson without subtitles plays normally meanwhile.
    PlayMode playMode = PlayMode::Repeat;
    int repeatCount = 1; // at least 1
    SubtitleDisplay subtitleDisplay = SubtitleDisplay::Always;
    double playRate = 1.0; // finite; the rate box bounds it
    PlayGroup playGroup = PlayGroup::All;
    bool filterChinese = false;
    bool hwDecode = true;
    bool recordTakes = false;
    int shadowPause = 0; // the row of the pause-to-speak list, 0 (none) to 3
    QString passRates;   // the rates per pass, as the learner typed them
    // The language of the media's own text track that is taken for the sentences (an ISO 639
    // code as the media names it, e.g. "eng", "chi"); empty for the first track.
    QString subtitleLanguage;
    QByteArray windowGeometry; // of the player window; nothing reads them back yet
    QByteArray windowState;

    static Settings load();
    void save() const;
};

// Where a lesson stood when it was left, kept per lesson ("files/<hash of its path>"; another
// spelling of the same path is another lesson).
struct LessonPlace
{
    qint64 position = 0; // milliseconds
    int repeatCounter = 0;
    int sentence = -1; // the sentence that was current, -1 when not known

    static LessonPlace load(const QString &lesson);
    void save(const QString &lesson) const;
};
