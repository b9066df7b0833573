#pragma once

#include "core/drill/passend.h"
#include "core/drill/playmodes.h"
#include "core/drill/sentencechoice.h"
#include "core/drill/shadowing.h"
#include "core/subtitles/subtitleitem.h"

#include <QElapsedTimer>
#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QTimer>

// The drill over one lesson: which sentence is current, its repetition, what the end of a pass
// leads to, the play list, the pause to speak and the rate of each pass. It is fed what the
// media engine reports and what the learner does, and says by its signals what the engine is
// to do and what the overlay shows. It never sees a widget or an engine; every seek is its own
// decision.
class RepeatSession : public QObject
{
    Q_OBJECT

public:
    // What the media engine is doing, as far as the drill cares.
    enum class Playback { Stopped, Playing, Paused };

    explicit RepeatSession(QObject *parent = nullptr);

    // ---- the lesson and the learner's choices ----
    // A new lesson (or none): its sentences in ascending start order and its group 2, which is
    // kept to sentences the lesson has. The play list starts at its first sentence.
    void setSentences(const QList<SubtitleItem> &sentences, const QList<int> &group2);
    // The same sentences with mended times: the next pass takes them.
    void setSentenceTimes(const QList<SubtitleItem> &sentences);
    const QList<SubtitleItem> &sentences() const { return items; }
    // The mode asked for; without sentences the drill plays normally until some come.
    void setPlayMode(PlayMode mode);
    PlayMode requestedPlayMode() const { return requested; }
    PlayMode playMode() const { return mode; }
    void setRepeatCount(int count);
    int repeatCount() const { return repeats; }
    void setPassRates(const QList<double> &rates);
    const QList<double> &ratesPerPass() const { return passRates; }
    // 0 none, 1 once, 2 one and a half times, 3 twice the sentence's length.
    void setPauseChoice(int choice);
    void setDisplayMode(SubtitleDisplay display);
    SubtitleDisplay displayMode() const { return display; }
    // The group played as stored; settled against the groups when the play list is drawn.
    void setPlayGroup(PlayGroup group);
    // The lists handed back by the subtitle browser, taken as they come.
    void setGroups(const QList<int> &group1, const QList<int> &group2);
    // What the overlay adds or leaves out: the Chinese lines, the second subtitle's lines.
    void setChineseLinesHidden(bool hidden);
    bool chineseLinesHidden() const { return chineseHidden; }
    void setSecondLines(const QStringList &lines);
    void setSecondLinesShown(bool shown);
    bool secondLinesShown() const { return secondShown; }
    // The place to return to when the media has loaded (one shot).
    void restorePlaceOnLoad(qint64 position, int sentence, int round);
    // Back to a place and its repetition now: a position in the tail of one sentence and the
    // lead-in of the next returns to `sentence`.
    void restorePlace(qint64 position, int sentence, int round);

    // ---- where the drill stands ----
    int currentSentence() const { return current; }
    int repeatRound() const { return round; }
    PlayGroup playGroup() const { return group; }
    const QList<int> &playList() const;
    const QList<int> &group2() const { return group2Members; }
    const QList<int> &group1() const { return group1Members; }
    QString text() const { return shownText; }
    bool isRevealed() const { return revealed; }
    bool speakingPauseActive() const { return speakingPause.timer.isActive(); }
    bool isSliderHeld() const { return sliderHeld; }
    qint64 position() const { return lastPosition; }
    qint64 duration() const { return mediaDuration; }

public slots:
    // ---- from the media engine ----
    void onPosition(qint64 position);
    void onEndPointReached(qint64 position, bool jumped = false);
    void onEndOfMedia();
    void onMediaLoaded();
    void setDuration(qint64 duration);
    void setPlayback(RepeatSession::Playback state);

    // ---- from the learner ----
    void next();
    // The sentence once again from its lead-in, any pause to speak ended without going on:
    // after the learner's take has been heard.
    void replaySentence(int sentence);
    // Playback stops where it stands; a pause to speak ends without going on.
    void hold();
    // The current sentence goes to group 2 and the next one plays.
    void skip();
    void togglePlay();
    void switchGroup();
    void reveal(bool shown);
    // The arrows: delta from where playback is, within the media.
    void seekBy(qint64 delta);
    void seekTo(qint64 position);
    void holdSlider();
    void releaseSlider(qint64 position);
    // The timing keys: false, and nothing moved, when the edge or the lesson cannot move.
    bool moveSentenceEdge(Shadowing::Edge edge, qint64 deltaMs);
    bool shiftSentences(qint64 deltaMs);

signals:
    void seekRequested(qint64 position);
    // The end of the pass being played, -1 for none: the engine stops there and tells.
    // The end point of the pass, and what the engine does there by itself (a loop or the next
    // sentence is sought at once; the learner's pause to speak holds).
    void endPointChanged(qint64 position, const PassEnd &then);
    void rateChanged(qreal rate);
    void pauseRequested();
    void playRequested();
    void currentSentenceChanged(int sentence);
    void textChanged(const QString &text);
    void playModeChanged(PlayMode effective);
    void playListChanged(PlayGroup group, const QList<int> &playList);
    void group2Changed(const QList<int> &group2);
    void speakingPauseStarted(int sentence, qint64 lengthMs);
    void speakingPauseProgress(int sentence, qint64 leftMs);
    void speakingPauseEnded(int sentence);

private:
    bool isSentence(int index) const { return index >= 0 && index < items.size(); }
    void beginPass(int sentence);
    void setRound(int value);
    void applyPlayMode();
    bool handleSentenceEnd(int sentence);
    bool carryOut(const SentenceChoice::EndAction &action);
    SentenceChoice::EndAction endActionFor(int sentence) const;
    void armEndPoint();
    void setEndPoint(qint64 position, const PassEnd &then = PassEnd::hold());
    PassEnd passEndFor(int sentence) const;
    void followJump(int sentence);
    int nextInPlayList() const;
    void requestSeek(qint64 position);
    void seekToSentence(int sentence);
    int syncToPosition(qint64 position);
    bool settleCurrentInPlayList();
    void rebuildGroups();
    void applyPlayList();
    void addToGroup2(int sentence);
    void refreshText();
    void showText(const QString &text);
    void beginSpeakingPause(const SentenceChoice::EndAction &action, qint64 lengthMs);
    void finishSpeakingPause();
    void cancelSpeakingPause();
    void stopSpeakingPause();

    QList<SubtitleItem> items;
    PlayMode requested = PlayMode::Repeat;
    PlayMode mode = PlayMode::NormalPlay;
    int repeats = 1;
    QList<double> passRates;
    int pauseChoice = 0;
    SubtitleDisplay display = SubtitleDisplay::Always;

    // The play list: every sentence, group 2, or the others.
    QList<int> allMembers;
    QList<int> group2Members;
    QList<int> group1Members;
    PlayGroup group = PlayGroup::All;

    int current = 0;
    int round = 0;
    int endHandled = -1;       // the sentence whose end this pass has acted on
    int endPointSentence = -1; // the sentence whose end point the engine holds
    qint64 endPoint = -1;
    PassEnd endThen;
    qint64 lastPosition = 0;
    qint64 mediaDuration = 0;
    Playback playback = Playback::Stopped;
    bool sliderHeld = false;

    QString shownText;
    bool revealed = false;
    bool chineseHidden = false;
    QStringList secondLines;
    bool secondShown = false;

    struct SpeakingPause
    {
        QTimer timer;  // single shot: the pause is over
        QTimer ticker; // the time left
        QElapsedTimer clock;
        qint64 lengthMs = 0;
        int sentence = -1;
        bool runsOn = false; // playback runs on from the end point, with no seek
    };
    SpeakingPause speakingPause;

    struct Place
    {
        qint64 position = -1; // -1: none to restore
        int sentence = -1;
        int round = 0;
    };
    Place placeToRestore;
};
