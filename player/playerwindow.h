#pragma once

#include "player/playablesource.h"
#include "subtitles/subtitleitem.h"

#include <QList>
#include <QMainWindow>
#include <QMediaPlayer>
#include <QString>

class QAudioOutput;
class QGraphicsProxyWidget;
class QGraphicsScene;
class QGraphicsTextItem;
class QGraphicsVideoItem;
class QLabel;
class QProgressBar;
class QTimer;
class SubAudioExporter;

namespace Ui {
class PlayerWindow;
}

// The window that plays one media file with its subtitle, sentence by sentence.
// One header, several sources: each section below names the file that implements it.
class PlayerWindow : public QMainWindow
{
    Q_OBJECT

public:
    PlayerWindow(QWidget *parent, const QString &mediaPath);
    ~PlayerWindow() override;

    // subtitles/playerwindow_subtitles.cpp
    void loadSubtitles(const QString &path);
    // The directory searched for subtitles after the media's own; a network video's only one.
    void setWorkingDirectory(const QString &dir);

    // export/playerwindow_export.cpp
    static QString exportSubtitlePath(const QString &mediaFile);

    // player/playerwindow_engine.cpp
    static QString formatTime(qint64 ms);

private slots:
    void onBrowseSubtitlesClicked(); // groups/playerwindow_groups.cpp
    void onPlayModeChanged(int index);
    void refreshSubtitle();
    void onSubtitleModeChanged(int index);
    void applySubtitleMode();
    void onBtnPlayPauseClicked();
    void onSwitchGroupClicked();
    void onBtnBackClicked();
    void onPositionChanged(qint64 position);
    void onExportMp3Clicked();
    void onFilterMp3Clicked();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
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
    friend class tst_EndTimer;
    friend class tst_Network;
    friend class tst_NoSoundDevice;
    friend class LoopLatencyBench; // bench/bench_loop_latency.cpp

    // ---- subtitle discovery: subtitles/playerwindow_subtitles.cpp ----
    void applyPlayModeForSubtitles();
    void showNoSentenceNotice(const QString &subtitleName);
    QString titleBeforeNoSentenceNotice;

    // ---- construction, media pipeline and layout: player/playerwindow.cpp ----
    void connectSignals();
    void attachAudioOutputWhenAvailable();
    void layoutVideo();
    void layoutSubtitle();
    int subtitleFontPointSize() const;
    void updateSubtitleFont();
    void positionDonationLabel();
    void updateRepeatControls();
    void onPlaybackStateChanged(QMediaPlayer::PlaybackState state);
    void createBusyIndicator();
    void createDonationLabel();

    // ---- repeat engine: player/playerwindow_engine.cpp ----
    qint64 sentenceLeadStart(int index) const;
    qint64 sentenceTailMargin(int index) const;
    int sentenceIndexAt(qint64 position) const;
    bool handleSentenceEnd(int index);
    int nextPlayListIndex() const;
    void seekToSentence(int index);
    void movePlayer(qint64 position);
    int syncIndexToPosition(qint64 position);
    void seekToPosition(qint64 position);
    void nextSentence();
    void updateSliderRange();
    void onLoadedMedia(QMediaPlayer::MediaStatus status);
    void repeatAfterEndOfMedia();
    int sentenceForSeek(qint64 position) const;
    int playListMemberFor(int b, qint64 position) const;
    void onDurationChanged(qint64 duration);
    void onSliderReleased();
    void onRepeatCountChanged(int value);
    void applyPlayMode(int mode, bool save);
    void savePlayModeSettings();
    bool isSentenceIndex(int index) const;
    void retryLostSeek(qint64 position);

    // ---- subtitle overlay: player/playerwindow_overlay.cpp ----
    void onFilterChineseClicked();
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
    void reapplyPlaybackRate();

    // ---- hardware decoding switch: player/playerwindow_hwdecode.cpp ----
    void applyMediaBackendEnvironment();
    void updateHwDecodeButton();
    void toggleHardwareDecoding();
    QStringList restartArguments() const;

    // ---- export controls: export/playerwindow_export.cpp ----
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

    // ---- precise end timer: player/playerwindow_endtimer.cpp ----
    friend class EndOvershootBench;
    qint64 noteReportForEndTimer(qint64 position);
    void armEndTimer();
    void stopEndTimer();
    void onEndTimerFired();
    void onRateChangedForEndTimer(qreal rate);
    void onPlaybackStateChangedForEndTimer(QMediaPlayer::PlaybackState state);
    double extrapolatedEndTimerPosition() const;
    double endTimerLeadMs() const;
    void noteNewAudioOutput();
    void noteSeekForEndTimer(bool whilePlaying);
    // Wall milliseconds of audio the output holds queued (measured on PulseAudio).
    static constexpr double outputQueueMs = 95.0;
    QTimer *endTimer = nullptr;
    qint64 endTimerReportPosition = -1; // -1: no report since the last seek or pause
    qint64 endTimerReportClockNs = 0;
    qint64 endTimerLastReportClockNs = 0; // of any report, not only the one timed from
    double endTimerReportRate = 1.0;
    qint64 endTimerHeldPosition = -1;
    int endTimerIndex = -1;
    int endTimerResets = 0;
    bool endTimerFeeding = false;
    bool endTimerEnabled = true; // switched off only by the overshoot benchmark
    // How much of the output's queue the back end's clock has not counted as played: all of it
    // in an output opened afresh, none just after a seek made while playing.
    double endTimerUncountedQueueMs = outputQueueMs;
    qint64 endTimerLeftPlayingNs = 0;

    // ---- fields ----
    int playMode = 1;
    int requestedPlayMode = 1;
    bool playModePending = false;
    int subtitleDisplayMode = 0;
    int repeatCount = 1;
    int layoutRetryCount = 0;
    QAudioOutput *audioOutput = nullptr;
    Ui::PlayerWindow *ui = nullptr;
    QMediaPlayer *player = nullptr;
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
    int reportsFarBelowGuard = 0; // since the last seek
    QGraphicsScene *scene = nullptr;
    QGraphicsVideoItem *videoItem = nullptr;
    QGraphicsTextItem *subtitleTextItem = nullptr;
    QString rootDir;
    QString currentFile;
    // What the media player is given for currentFile (a link where the path is not ASCII).
    PlayableSource playableSource;
    bool hwDecodeEnabled = true;
    QString mediaPath;
    QProgressBar *busyIndicator = nullptr;
    QGraphicsProxyWidget *busyIndicatorProxy = nullptr;
    QLabel *donationLabel = nullptr;

    // The program started by the hardware-decoding switch; the running executable by default.
    QString restartProgram;
};
