#pragma once

#include "gui/player/playerwindow.h"
#include "scriptedengine.h"

#include <QList>
#include <QPair>

#include <memory>

using Times = QList<QPair<qint64, qint64>>;

// Sentences "Sentence 0", "Sentence 1", … at the given (start, end) times.
inline QList<SubtitleItem> lessonOf(const Times &times)
{
    QList<SubtitleItem> items;
    for (const auto &[start, end] : times)
        items << SubtitleItem{int(items.size()), start, end, QString("Sentence %1").arg(items.size())};
    return items;
}

// The shared set-up of the tests that drive the window themselves: a window on a scripted
// engine with a loaded minute of media and these sentences, in this play mode, not playing.
class PlayerWindowTest
{
public:
    static std::unique_ptr<PlayerWindow> open(const QList<SubtitleItem> &sentences, int playMode,
                                              const QList<int> &group2 = {})
    {
        auto *engine = new ScriptedEngine;
        auto window = std::make_unique<PlayerWindow>(nullptr, QString(), engine);
        // Nothing starts playing on its own: the test says what the media does.
        QObject::disconnect(engine, &MediaEngine::mediaStatusChanged, window.get(), nullptr);
        engine->finishLoading(60000);
        RepeatSession *session = window->repeatSession();
        session->setPlayMode(PlayMode(playMode));
        session->setSentences(sentences, group2);
        // As if playback had landed where the play list put it.
        engine->seeks.clear();
        engine->settle();
        return window;
    }
    static std::unique_ptr<PlayerWindow> open(const Times &times, int playMode, const QList<int> &group2 = {})
    {
        return open(lessonOf(times), playMode, group2);
    }
    static ScriptedEngine &engine(const PlayerWindow &window)
    {
        return *static_cast<ScriptedEngine *>(window.mediaEngine());
    }
    // Playback reaches position, as the media engine would report it.
    static void report(PlayerWindow &window, qint64 position) { engine(window).report(position); }
    // The sentence becomes current, as a seek to its start makes it.
    static void goTo(PlayerWindow &window, int sentence)
    {
        RepeatSession *session = window.repeatSession();
        session->seekTo(session->sentences().at(sentence).startMs);
        engine(window).settle();
        engine(window).seeks.clear();
    }
};
