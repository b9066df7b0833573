#pragma once

#include "media/mediaengine.h"
#include "core/drill/repeatsession.h"
#include "core/drill/shadowing.h"
#include "core/subtitles/subtitleitem.h"

#include <QKeyEvent>
#include <QList>
#include <QMainWindow>
#include <QString>

#include <memory>
#include <vector>

class QGraphicsScene;
class QGraphicsTextItem;
class QGraphicsVideoItem;
class QLabel;
class QProgressBar;
class QPushButton;
class QTimer;
class SubAudioExporter;
class SpeechAnalysisTask;
struct SubtitleLookup;
class TakeController;
struct SpeechAnalysis;

namespace Ui {
class PlayerWindow;
}

// The window that plays one media file with its subtitle, sentence by sentence.
// One header, several sources: each section below names the file that implements it.
class PlayerWindow : public QMainWindow
{
    Q_OBJECT

public:
    // When the engine is made and the lesson opened: with the window, or once the window has been
    // shown and painted, so that it appears without waiting for the engine's libraries. Until
    // then the window takes no mouse action; the keys pressed until the lesson has loaded are
    // handled then, after the place the learner left is restored.
    enum class EngineStart { WithWindow, AfterFirstPaint };
    // The window plays through `engine` when one is given (it takes it over), else through the
    // engine this machine plays with.
    PlayerWindow(QWidget *parent, const QString &mediaPath, MediaEngine *engine = nullptr,
                 EngineStart start = EngineStart::WithWindow);
    ~PlayerWindow() override;

    // subtitles/playerwindow_subtitles.cpp
    void loadSubtitles(const QString &path);
    // The directory searched for subtitles after the media's own; a network video's only one.
    void setWorkingDirectory(const QString &dir);

    // export/playerwindow_export.cpp
    static QString exportSubtitlePath(const QString &mediaFile);

    // The lesson this window plays: a local path or a network address.
    QString lessonFile() const { return lesson.file; }
    // A subtitle was found for the lesson, in any form the player reads, or a track inside the
    // media is being read.
    bool hasSubtitle() const;
    // The drill and the engine it plays through; none before the engine is made.
    RepeatSession *repeatSession() const { return session; }
    MediaEngine *mediaEngine() const { return player; }
    // The sentence drawn over the video, and the video's picture.
    QGraphicsTextItem *subtitleItem() const { return video.subtitleItem; }
    QGraphicsVideoItem *videoOutput() const { return video.item; }
    // The learner's takes in the pauses to speak.
    TakeController *takeController() const { return takes; }
    // The subtitle file the sentences came from; empty when none was read from a file.
    QString subtitleFile() const { return lesson.subtitlePath; }
    // The alignment of the sentences to the speech, while one runs.
    SpeechAnalysisTask *speechAlignment() const { return align.task; }
    bool hardwareDecoding() const { return hwDecode.enabled; }
    QString workingDirectory() const { return lesson.workingDirectory; }
    // Names the lesson and its subtitle file without opening them: what the export, alignment
    // and restart controls act on (a tool or a test that feeds the sentences itself).
    void setLessonFile(const QString &path) { lesson.file = path; }
    void setSubtitleFile(const QString &path) { lesson.subtitlePath = path; }
    // The program the hardware-decoding switch starts instead of the running executable.
    void setRestartProgram(const QString &program) { hwDecode.restartProgram = program; }

signals:
    // The engine is made and the lesson opened, with a subtitle or without.
    void lessonOpened(bool subtitleFound);

private slots:
    void onBrowseSubtitlesClicked(); // groups/playerwindow_groups.cpp
    void onPlayModeChanged(int index);
    void onSubtitleModeChanged(int index);
    void onPositionChanged(qint64 position);
    void onBtnBackClicked();
    void onExportMp3Clicked();
    void onFilterMp3Clicked();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void keyReleaseEvent(QKeyEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void closeEvent(QCloseEvent *event) override;
    void showEvent(QShowEvent *event) override;

private:
    // ---- subtitle discovery: subtitles/playerwindow_subtitles.cpp ----
    void applySubtitleLookup(const SubtitleLookup &lookup);
    void readSubtitleTrack(const QUrl &media, const QString &language);
    void showSubtitleNotice(const QString &notice, bool keepUsualTitle = false);
    void loadSecondSubtitle();
    void readSecondTrack(const QString &mediaPath);
    void showSecondSubtitle(const QStringList &secondLines);
    void toggleSecondSubtitle();
    void showPlayModeForSubtitles();

    // ---- construction, media pipeline and layout: player/playerwindow.cpp ----
    void startEngine(MediaEngine *engine);
    void startPendingEngine();
    void handleKeptKeys();
    void connectSignals();
    void connectSession();
    void layoutVideo();
    void layoutSubtitle();
    int subtitleFontPointSize() const;
    void updateSubtitleFont();
    void positionDonationLabel();
    QList<QRect> sentenceLinesInWindow() const;
    void keepSentenceClearOfPicture();
    void updateRepeatControls();
    void onPlaybackStateChanged(QMediaPlayer::PlaybackState state);
    void onMediaError(QMediaPlayer::Error error, const QString &message);
    void createBusyIndicator();
    void centerOverlayBars();
    QPoint overlayBarCenter() const;
    void createDonationLabel();
    void showNotice(const QString &text);
    void positionNotice();
    QString lessonName() const;
    void updateTitle();
    void showLessonName();
    void fitControlsToTheirTexts();
    void keepKeysForThePlayer();

    // ---- the drill drawn, the engine fed: player/playerwindow_engine.cpp ----
    void onMediaStatusChanged(QMediaPlayer::MediaStatus status);
    void onDurationChanged(qint64 duration);
    // "place / length" beside the slider.
    void showTime(qint64 position, qint64 duration);
    void moveSlider(int position);
    void onRepeatCountChanged(int value);
    void showPlayMode(PlayMode mode);
    void savePlayModeSettings();
    void showPlaybackState();
    void showText(const QString &text);

    // ---- the slider: player/playerwindow_seek.cpp ----
    void updateSliderRange();
    void onSliderReleased();
    void makeSliderJumpOnClick();

    // ---- shadowing: player/playerwindow_shadowing.cpp ----
    void createShadowPauseBar();
    void onShadowPauseChanged(int choice);
    void showShadowPause(int sentence, qint64 lengthMs);
    void showShadowPauseLeft(int sentence, qint64 leftMs);
    void onPassRatesEdited();
    void moveSentenceEdge(Shadowing::Edge edge, qint64 deltaMs);
    void shiftSubtitle(qint64 deltaMs);
    void saveCorrectedTimes();
    void readShadowingSettings();

    // ---- aligning sentences to the speech: player/playerwindow_align.cpp ----
    void createAlignControls();
    void startAlignment(int onlySentence);
    void showAlignProgress(int percent);
    void applyAlignment(const SpeechAnalysis &analysis);

    // ---- subtitle overlay: player/playerwindow_overlay.cpp ----
    void onFilterChineseClicked();
    void backText();
    void updateFilterChineseButton();

    // ---- keyboard and mouse: player/playerwindow_keys.cpp ----
    void adjustVolume(double step);

    // ---- persistence: player/playerwindow_state.cpp ----
    void loadPlayerState();
    void savePlayerState();
    void restorePlaceOnLoad();

    // ---- hardware decoding switch: player/playerwindow_hwdecode.cpp ----
    void readHardwareDecodingChoice();
    void updateHwDecodeButton();
    void toggleHardwareDecoding();
    QStringList restartArguments() const;

    // ---- export controls: export/playerwindow_export.cpp ----
    bool checkExportFolderWritable();
    bool checkSentencesToExport(const QList<SubtitleItem> &items, const QString &subtitlePath);
    SubAudioExporter *createExporter(const QString &clipDir);
    void startGeneration(SubAudioExporter *exporter);
    void resetExportControls();
    void showExportFailure(const QString &msg);

    // ---- groups and play list: groups/playerwindow_groups.cpp ----
    void showGroup(PlayGroup group);
    void onGroup2Changed(const QList<int> &group2);

    // ---- fields ----
    Ui::PlayerWindow *ui = nullptr;
    MediaEngine *player = nullptr;
    // For an engine made after the first paint (EngineStart::AfterFirstPaint): the one given, if any.
    MediaEngine *pendingEngine = nullptr;
    // Keys pressed before the lesson of a window shown before its engine has loaded (or failed
    // to), handled then, in their order.
    bool keepingKeys = false;
    std::vector<std::unique_ptr<QKeyEvent>> keptKeys;
    // The drill: every decision of what plays, and the text shown.
    RepeatSession *session = nullptr;
    // The learner's takes in the pauses to speak (player/takecontroller.cpp).
    TakeController *takes = nullptr;
    // The view's scene: the video's picture and the sentence drawn over it.
    struct VideoScene
    {
        QGraphicsScene *scene = nullptr;
        QGraphicsVideoItem *item = nullptr;
        QGraphicsTextItem *subtitleItem = nullptr;
    } video;
    int layoutRetryCount = 0;
    // Bars and labels over the video.
    struct OverlayBars
    {
        QProgressBar *busyIndicator = nullptr;
        QProgressBar *shadowPauseBar = nullptr;
        QLabel *donationLabel = nullptr;
        // A message drawn over the video, seen in full screen too; it fades by itself.
        QLabel *noticeLabel = nullptr;
        QTimer *noticeTimer = nullptr;
    } overlay;
    // The lesson's files.
    struct LessonFiles
    {
        QString file;             // a local path or a network address
        QString workingDirectory; // searched for subtitles after the media's own folder
        // The subtitle file the sentences came from (written by loadSubtitles).
        QString subtitlePath;
        // The subtitle whose file could not take mended times, told once (saveCorrectedTimes).
        QString unwritableSubtitleTold;
    } lesson;
    // The media given to the constructor, opened once the stored state is read.
    QString mediaPath;
    // Group 2 is read from the store with the first subtitle, up to its number of sentences.
    bool storedGroup2Pending = false;
    // The title shown before a subtitle notice, and the title while the notice is shown.
    struct SubtitleNotice
    {
        QString usualTitle;
        QString title;
    } subtitleNotice;
    QPushButton *btnSecondSubtitle = nullptr;
    // Aligning to the speech (written by createAlignControls, startAlignment, applyAlignment).
    struct SpeechAlignmentControls
    {
        SpeechAnalysisTask *task = nullptr;
        int sentence = -1; // the sentence being aligned, -1 for every one
        QProgressBar *bar = nullptr;
        QTimer *noticeTimer = nullptr;
    } align;
    struct HardwareDecoding
    {
        bool enabled = true;
        // The program started by the switch; the running executable by default.
        QString restartProgram;
    } hwDecode;
};
