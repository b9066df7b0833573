#pragma once

#include "core/takes/takestore.h"
#include "core/subtitles/subtitleitem.h"

#include <QObject>
#include <QPointer>

#include <functional>
#include <memory>
#include <optional>

class QAbstractButton;
class QAudioOutput;
class QMediaPlayer;
class QTimer;
class PlayableSource;
class QToolButton;
class TakeContourView;
class TakeRecorder;
struct TakeComparison;

// What the takes need to know of the lesson being drilled.
struct TakeLesson
{
    std::function<QString()> media; // the lesson: a path or an address
    std::function<int()> currentSentence;
    std::function<std::optional<SubtitleItem>(int)> sentence;
};

// The learner's takes: recorded during each pause to speak while the switch is on, kept in the
// take store, compared with the speaker's sentence, and played back before the sentence is
// heard once again. Nothing is recorded outside the pauses, and nothing leaves the machine.
class TakeController : public QObject
{
    Q_OBJECT

public:
    TakeController(const TakeLesson &lesson, QObject *parent, const TakeStore &store = TakeStore());
    ~TakeController() override;

    // The switch, the play-back button (its menu opens the takes' folder) and the picture; the
    // switch takes the stored choice and says when there is no microphone.
    void attachControls(QAbstractButton *toggle, QToolButton *playButton, TakeContourView *view);

    bool isOn() const { return on; }
    void setOn(bool enabled);
    bool isRecording() const;
    // Why takes cannot be recorded, empty when they can.
    QString microphoneProblem() const;
    const TakeStore &store() const { return takes; }

public slots:
    void onSpeakingPauseStarted(int sentence, qint64 lengthMs);
    void onSpeakingPauseEnded(int sentence);
    // The last take of the current sentence (or of the one just spoken), then the speaker's
    // sentence once again (sentenceReplayRequested).
    void playLastTake();
    void openTakesFolder();

signals:
    void takeSaved(const QString &path, int sentence);
    void takeCompared(const QString &path, int sentence, const TakeComparison &comparison);
    // A take is about to be heard: the lesson waits.
    void takePlaybackStarted();
    void sentenceReplayRequested(int sentence);
    // The switch's words: what it does, or why it cannot.
    void statusChanged(const QString &status);

private:
    void onTakeFinished(const QString &path, qint64 durationMs);
    void compareInBackground(const QString &path, int sentence);
    void playTake(const QString &path, int sentence);
    void onPlaybackStatus();
    void refreshStatus();
    QString lessonMedia() const;

    TakeLesson lesson;
    TakeStore takes;
    TakeRecorder *recorder = nullptr;
    QTimer *safetyStop = nullptr; // a pause whose end never comes does not record on
    bool on = false;
    int recordingSentence = -1;
    QString recordingLesson;
    int lastTakeSentence = -1;
    // A take asked for while it was still being written plays once it is.
    bool playWhenWritten = false;
    QMediaPlayer *takePlayer = nullptr;
    QAudioOutput *takeOutput = nullptr;
    std::unique_ptr<PlayableSource> playable; // a take under a folder named in Chinese
    int playingSentence = -1;
    QPointer<QAbstractButton> toggle;
    QPointer<TakeContourView> view;
    QString lastProblem;
};
