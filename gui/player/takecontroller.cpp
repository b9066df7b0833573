#include "gui/player/takecontroller.h"

#include "core/settings/settings.h"

#include "media/playablesource.h"
#include "core/takes/takecomparison.h"
#include "gui/player/takecontourview.h"
#include "media/takerecorder.h"

#include <QAbstractButton>
#include <QAudioOutput>
#include <QDebug>
#include <QDesktopServices>
#include <QDir>
#include <QFileInfo>
#include <QFutureWatcher>
#include <QMediaDevices>
#include <QMediaPlayer>
#include <QMenu>
#include <QTimer>
#include <QToolButton>
#include <QUrl>
#include <QtConcurrent>

namespace {

// A take ended at once (Space as the pause began) holds nothing to hear.
constexpr qint64 shortestTakeMs = 300;
// No one answers within this time of the sentence's end: what the microphone hears then is the
// sentence dying away (in the room, and in the sound output's buffer), not the learner.
constexpr qint64 answerDelayMs = 300;
// The pause's end is awaited this much longer before the take is ended anyway.
constexpr qint64 safetyMarginMs = 1500;

const char *const aboutTakes = "录音跟读：每次跟读停顿时录下你的声音（只保存在本机，不会发送），\n"
                               "旁边的小图比较你和原声的音高与节奏；R 键或“回放”先放你的录音，再放原句。";

// The comparison of a take with the speaker's sentence, read by ffmpeg off the window's thread.
TakeComparison compareWithSentence(const QString &media, const SubtitleItem &sentence,
                                   const QString &takePath)
{
    const std::optional<QList<qint16>> speaker =
        readComparisonSound(media, sentence.startMs, sentence.endMs - sentence.startMs);
    const std::optional<QList<qint16>> take = readComparisonSound(takePath, answerDelayMs);
    if (!speaker || !take)
        return {};
    return compareTake(voiceTrack(*speaker), voiceTrack(*take));
}

} // namespace

TakeController::TakeController(const TakeLesson &lessonAccess, QObject *parent, const TakeStore &store)
    : QObject(parent)
    , lesson(lessonAccess)
    , takes(store)
    , recorder(new TakeRecorder(this))
    , safetyStop(new QTimer(this))
{
    on = Settings::load().recordTakes;
    safetyStop->setSingleShot(true);
    connect(safetyStop, &QTimer::timeout, this, [this] { onSpeakingPauseEnded(recordingSentence); });
    connect(recorder, &TakeRecorder::finished, this, &TakeController::onTakeFinished);
    connect(recorder, &TakeRecorder::failed, this, [this](const QString &message) {
        lastProblem = message;
        refreshStatus();
    });
    // A microphone plugged in or taken away: the switch says so at once.
    auto *devices = new QMediaDevices(this);
    connect(devices, &QMediaDevices::audioInputsChanged, this, [this] {
        lastProblem.clear();
        refreshStatus();
    });
}

TakeController::~TakeController() = default;

void TakeController::attachControls(QAbstractButton *toggleButton, QToolButton *playButton,
                                    TakeContourView *picture)
{
    toggle = toggleButton;
    view = picture;
    toggle->setCheckable(true);
    toggle->setChecked(on);
    connect(toggle, &QAbstractButton::toggled, this, &TakeController::setOn);
    connect(playButton, &QToolButton::clicked, this, &TakeController::playLastTake);
    auto *menu = new QMenu(playButton);
    menu->addAction("打开录音文件夹", this, &TakeController::openTakesFolder);
    playButton->setMenu(menu);
    playButton->setPopupMode(QToolButton::MenuButtonPopup);
    connect(this, &TakeController::takeCompared, view,
            [this](const QString &, int sentence, const TakeComparison &comparison) {
                if (view)
                    view->showComparison(comparison, sentence);
            });
    refreshStatus();
}

void TakeController::setOn(bool enabled)
{
    on = enabled;
    Settings stored = Settings::load();
    stored.recordTakes = on;
    stored.save();
    if (!on)
        onSpeakingPauseEnded(recordingSentence);
    refreshStatus();
}

bool TakeController::isRecording() const
{
    return recorder->isRecording();
}

QString TakeController::microphoneProblem() const
{
    const QString missing = TakeRecorder::microphoneProblem();
    return missing.isEmpty() ? lastProblem : missing;
}

void TakeController::refreshStatus()
{
    const QString problem = microphoneProblem();
    const QString status =
        problem.isEmpty() ? QString(aboutTakes) : problem + "：录音跟读不可用，跟读照常进行";
    if (toggle) {
        toggle->setToolTip(status);
        const bool missing = !TakeRecorder::microphoneProblem().isEmpty();
        toggle->setText(problem.isEmpty() ? "录音跟读" : missing ? "录音跟读(无麦克风)" : "录音跟读(不可用)");
    }
    emit statusChanged(status);
}

QString TakeController::lessonMedia() const
{
    return lesson.media ? lesson.media() : QString();
}

// ---- recording in the pause ----

void TakeController::onSpeakingPauseStarted(int sentence, qint64 lengthMs)
{
    if (!on || sentence < 0 || lessonMedia().isEmpty())
        return;
    // The microphone is not even opened without one: drilling goes on as before.
    if (!TakeRecorder::microphoneProblem().isEmpty()) {
        refreshStatus();
        return;
    }
    recordingLesson = lessonMedia();
    recordingSentence = sentence;
    if (!recorder->start(takes.newTakePath(recordingLesson, sentence, QDateTime::currentDateTime())))
        return;
    if (!lastProblem.isEmpty()) {
        lastProblem.clear();
        refreshStatus();
    }
    safetyStop->start(int(lengthMs + safetyMarginMs));
    qDebug() << "录音跟读: 开始, 第" << sentence + 1 << "句";
}

void TakeController::onSpeakingPauseEnded(int)
{
    safetyStop->stop();
    if (recorder->isRecording())
        recorder->stop();
}

void TakeController::onTakeFinished(const QString &path, qint64 durationMs)
{
    const int sentence = TakeStore::sentenceOf(path);
    qDebug() << "录音跟读: 录完" << path << durationMs << "ms";
    if (durationMs < shortestTakeMs) {
        playWhenWritten = false;
        QFile::remove(path);
        return;
    }
    takes.keepNewest(recordingLesson, sentence);
    lastTakeSentence = sentence;
    emit takeSaved(path, sentence);
    compareInBackground(path, sentence);
    if (std::exchange(playWhenWritten, false))
        playTake(path, sentence);
}

void TakeController::compareInBackground(const QString &path, int sentenceIndex)
{
    const std::optional<SubtitleItem> sentence =
        lesson.sentence ? lesson.sentence(sentenceIndex) : std::nullopt;
    if (!sentence)
        return;
    auto *watcher = new QFutureWatcher<TakeComparison>(this);
    connect(watcher, &QFutureWatcher<TakeComparison>::finished, this, [this, watcher, path, sentenceIndex] {
        watcher->deleteLater();
        const TakeComparison comparison = watcher->result();
        // A take removed meanwhile (the eleventh since) keeps no score.
        if (QFileInfo::exists(path))
            takes.saveScore(path, comparison);
        qDebug() << "录音跟读: 第" << sentenceIndex + 1 << "句 相似度" << comparison.score;
        emit takeCompared(path, sentenceIndex, comparison);
    });
    watcher->setFuture(QtConcurrent::run(compareWithSentence, recordingLesson, *sentence, path));
}

// ---- hearing the take ----

void TakeController::playLastTake()
{
    const QString media = lessonMedia();
    if (recorder->isRecording()) {
        // Heard from the speakers, the take would record itself: it ends here.
        playWhenWritten = true;
        onSpeakingPauseEnded(recordingSentence);
        emit takePlaybackStarted();
        return;
    }
    int sentence = lesson.currentSentence ? lesson.currentSentence() : -1;
    if (takes.lastTake(media, sentence).isEmpty())
        sentence = lastTakeSentence;
    const QString path = takes.lastTake(media, sentence);
    if (path.isEmpty()) {
        emit statusChanged("这一句还没有录音");
        return;
    }
    playTake(path, sentence);
}

void TakeController::playTake(const QString &path, int sentence)
{
    if (!takePlayer) {
        takePlayer = new QMediaPlayer(this);
        playable = std::make_unique<PlayableSource>();
        takeOutput = new QAudioOutput(this);
        takePlayer->setAudioOutput(takeOutput);
        connect(takePlayer, &QMediaPlayer::mediaStatusChanged, this, &TakeController::onPlaybackStatus);
    }
    playingSentence = sentence;
    emit takePlaybackStarted();
    takePlayer->setSource(playable->urlFor(QUrl::fromLocalFile(path)));
    takePlayer->play();
    qDebug() << "录音跟读: 回放" << path;
}

void TakeController::onPlaybackStatus()
{
    const QMediaPlayer::MediaStatus status = takePlayer->mediaStatus();
    if (status != QMediaPlayer::EndOfMedia && status != QMediaPlayer::InvalidMedia)
        return;
    takePlayer->setSource(QUrl());
    if (playingSentence >= 0)
        emit sentenceReplayRequested(std::exchange(playingSentence, -1));
}

void TakeController::openTakesFolder()
{
    const QString media = lessonMedia();
    const QString folder = media.isEmpty() ? takes.root() : takes.lessonFolder(media);
    QDir().mkpath(folder);
    QDesktopServices::openUrl(QUrl::fromLocalFile(folder));
}
