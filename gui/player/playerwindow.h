#pragma once

#include "media/mediaengine.h"
#include "core/drill/sentencechoice.h"
#include "core/drill/shadowing.h"
#include "core/subtitles/subtitleitem.h"

#include <QElapsedTimer>
#include <QList>
#include <QMainWindow>
#include <QString>

class QGraphicsScene;
class QGraphicsTextItem;
class QGraphicsVideoItem;
class QLabel;
class QProgressBar;
class QPushButton;
class QTimer;
class SubAudioExporter;
class SpeechAnalysisTask;
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
    // The window plays through `engine` when one is given (it takes it over), else through the
    // engine this machine plays with.
    PlayerWindow(QWidget *parent, const QString &mediaPath, MediaEngine *engine = nullptr);
    ~PlayerWindow() override;

    // subtitles/playerwindow_subtitles.cpp
    void loadSubtitles(const QString &path);
    // The directory searched for subtitles after the media's own; a network video's only one.
    void setWorkingDirectory(const QString &dir);

    // export/playerwindow_export.cpp
    static QString exportSubtitlePath(const QString &mediaFile);

    // player/playerwindow_engine.cpp
    static QString formatTime(qint64 ms);

    // The lesson this window plays: a local path or a network address.
    QString lessonFile() const { return currentFile; }
    // A subtitle was found for the lesson, in any form the player reads.
    bool hasSubtitle() const { return !subtitlePath.isEmpty(); }

private slots:
    void onBrowseSubtitlesClicked(); // groups/playerwindow_groups.cpp
    void onPlayModeChanged(int index);
    void refreshSubtitle();
    void onSubtitleModeChanged(int index);
    void applySubtitleMode();
    void togglePlayback();
    void onSwitchGroupClicked();
    void onBtnBackClicked();
    void onPositionChanged(qint64 position);
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
    friend class PlayerWindowTest;
    friend class tst_PlayerWindow;
    friend class tst_Engine;
    friend class tst_Overlay;
    friend class tst_Keys;
    friend class tst_PlayerState;
    friend class tst_Groups;
    friend class tst_SubtitleLookup;
    friend class tst_SubtitleBrowser;
    friend class tst_HwDecode;
    friend class tst_ExportControls;
    friend class tst_Playback;
    friend class tst_Network;
    friend class tst_NoSoundDevice;
    friend class tst_Sound;
    friend class tst_Shadowing;
    friend class tst_Unwritable;
    friend class tst_SpeechAlignment;
    friend class LoopLatencyBench;  // bench/bench_loop_latency.cpp
    friend class EndOvershootBench; // bench/bench_end_overshoot.cpp
    friend class VideoBench;        // bench/bench_video.cpp

    // ---- subtitle discovery: subtitles/playerwindow_subtitles.cpp ----
    void applyPlayModeForSubtitles();
    void showSubtitleNotice(const QString &notice, bool keepUsualTitle = false);
    QString titleBeforeSubtitleNotice;
    QString subtitleNoticeTitle; // the title while a notice is shown
    void loadSecondSubtitle();
    void toggleSecondSubtitle();
    QStringList secondSubtitleLines; // per sentence, the second subtitle's text ("" for none)
    bool secondSubtitleShown = false;
    QPushButton *btnSecondSubtitle = nullptr;

    // ---- construction, media pipeline and layout: player/playerwindow.cpp ----
    void connectSignals();
    void layoutVideo();
    void layoutSubtitle();
    int subtitleFontPointSize() const;
    void updateSubtitleFont();
    void positionDonationLabel();
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

    // ---- repeat engine: player/playerwindow_engine.cpp ----
    qint64 sentenceLeadStart(int index) const;
    qint64 sentenceTailMargin(int index) const;
    int sentenceIndexAt(qint64 position) const;
    bool isSentenceIndex(int index) const;
    void beginSentencePass(int index);
    void setRepeatRound(int round);
    bool handleSentenceEnd(int index);
    bool carryOutEndAction(const SentenceChoice::EndAction &action);
    void onEndPointReached(qint64 position, bool jumped = false);
    void armEndPoint();
    int nextPlayListIndex() const;
    void onLoadedMedia(QMediaPlayer::MediaStatus status);
    void repeatAfterEndOfMedia();
    void onDurationChanged(qint64 duration);
    // "place / length" beside the slider.
    void showTime(qint64 position, qint64 duration);
    void onRepeatCountChanged(int value);
    void applyPlayMode(int mode, bool save);
    void savePlayModeSettings();
    void showPlaybackState();

    // ---- seeks and the seek guard: player/playerwindow_seek.cpp ----
    void movePlayer(qint64 position, qint64 guardFrom);
    bool isStrayReport(qint64 position);
    void requestSeek(qint64 position);
    void askSeekAgain();
    void seekToSentence(int index);
    int syncIndexToPosition(qint64 position);
    void seekToPosition(qint64 position);
    void nextSentence();
    void updateSliderRange();
    void onSliderReleased();
    void makeSliderJumpOnClick();

    // ---- shadowing: player/playerwindow_shadowing.cpp ----
    void createShadowPauseBar();
    void onShadowPauseChanged(int choice);
    void beginShadowPause(const SentenceChoice::EndAction &action, qint64 pauseMs);
    void finishShadowPause();
    void cancelShadowPause();
    bool shadowPauseActive() const;
    void showShadowPauseLeft();
    void onPassRatesEdited();
    void applyPassRate();
    void moveSentenceEdge(Shadowing::Edge edge, qint64 deltaMs);
    void shiftSubtitle(qint64 deltaMs);
    void saveCorrectedTimes();
    void setRevealed(bool shown);
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
    void detectChineseText();

    // ---- keyboard and mouse: player/playerwindow_keys.cpp ----
    void seekRelative(qint64 delta);
    void adjustVolume(double step);
    void skipSentence();

    // ---- persistence: player/playerwindow_state.cpp ----
    void loadPlayerState();
    void savePlayerState();
    void restorePosition(QMediaPlayer::MediaStatus status);
    void restoreIfAlreadyLoaded();
    void restoreSentence(qint64 position, int sentence);

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
    void rebuildPlayList();
    QList<int> *playListFor(int group);
    void applyPlayList();
    void updateGroupButton();
    void onGroupsUpdated(QList<int> left, QList<int> right);
    void addCurrentToGroup2(int index);

    // ---- fields ----
    int playMode = 1;
    int requestedPlayMode = 1;
    bool playModePending = false;
    int subtitleDisplayMode = 0;
    int repeatCount = 1;
    int layoutRetryCount = 0;
    Ui::PlayerWindow *ui = nullptr;
    MediaEngine *player = nullptr;
    bool filterChineseEnabled = false;
    bool hasChineseText = false;
    int currentIndex = 0;
    QList<int> groupLeftIndexes;
    QList<int> groupAllIndexes;
    QList<int> groupRightIndexes;
    int playGroup = 0;
    QList<int> *currentPlayList = nullptr;
    bool sliderDragging = false;
    QList<SubtitleItem> subtitles;
    int repeatRound = 0;
    int lastEndHandledIndex = -1;
    qint64 seekGuardPosition = -1;
    QGraphicsScene *scene = nullptr;
    QGraphicsVideoItem *videoItem = nullptr;
    QGraphicsTextItem *subtitleTextItem = nullptr;
    QString rootDir;
    QString currentFile;
    bool hwDecodeEnabled = true;
    QString mediaPath;
    QProgressBar *busyIndicator = nullptr;
    QLabel *donationLabel = nullptr;
    // A message drawn over the video, seen in full screen too; it fades by itself.
    QLabel *noticeLabel = nullptr;
    QTimer *noticeTimer = nullptr;

    // The last seek of the window, while its reports have not arrived (written by movePlayer).
    struct PendingSeek
    {
        qint64 target = -1; // -1: none
        qint64 from = -1;   // the position before it, which stale reports still give
        int strayReports = 0;
        bool requested = false;  // false while the back end is being asked: its reports echo the request
        bool askedAgain = false; // the back end has been asked a second time
    };
    PendingSeek pendingSeek;
    // The sentence whose end point the media engine holds (written by armEndPoint).
    int endPointSentence = -1;
    // The subtitle file the sentences came from (written by loadSubtitles).
    QString subtitlePath;
    // The subtitle whose file could not take mended times, told once (written by saveCorrectedTimes).
    QString unwritableSubtitleTold;
    // Group 2 is read from the store with the first subtitle, up to its number of sentences.
    bool storedGroup2Pending = false;

    // Shadowing (written by the shadowing controls and their handlers).
    int shadowPauseChoice = 0;
    QList<double> passRates;
    bool revealed = false;
    // The pause to speak after a pass, and what follows it (written by begin/finish/cancel).
    struct ShadowPause
    {
        QTimer *timer = nullptr;  // single shot: the pause is over
        QTimer *ticker = nullptr; // the time left, shown in the bar
        bool runsOn = false;      // playback runs on from the end point, with no seek
        qint64 endsAtMs = 0;      // of `clock`
    };
    ShadowPause shadowPause;
    QElapsedTimer clock;
    QProgressBar *shadowPauseBar = nullptr;
    // Aligning to the speech (written by createAlignControls, startAlignment, applyAlignment).
    SpeechAnalysisTask *speechAnalysis = nullptr;
    int alignSentence = -1; // the sentence being aligned, -1 for every one
    int lastAlignedCount = 0;
    QProgressBar *alignBar = nullptr;
    QTimer *alignNoticeTimer = nullptr;
    // The program started by the hardware-decoding switch; the running executable by default.
    QString restartProgram;
};
