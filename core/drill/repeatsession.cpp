#include "core/drill/repeatsession.h"

#include "core/drill/chineselines.h"
#include "core/drill/sentencetiming.h"

#include <QDebug>

#include <algorithm>
#include <utility>

using SentenceChoice::EndAction;

namespace {

// A back end holds the end point of a pass and reports it itself; should it not, a report this
// far past the end point still ends the pass.
constexpr qint64 endPointSlackMs = 250;
// The slider stands a moment after it is let go, until the seek has settled.
constexpr int sliderSettleMs = 50;
constexpr int speakingPauseTickMs = 100;

// Group 2 as stored may name sentences of another, longer lesson and repeat itself.
QList<int> validGroup2(const QList<int> &stored, int sentenceCount)
{
    QList<int> kept;
    for (int index : stored) {
        if (index >= 0 && index < sentenceCount && !kept.contains(index))
            kept.append(index);
    }
    std::sort(kept.begin(), kept.end());
    return kept;
}

// All sentences, then group 2, then group 1, then all again.
PlayGroup nextPlayGroup(PlayGroup group)
{
    switch (group) {
    case PlayGroup::All:
        return PlayGroup::Group2;
    case PlayGroup::Group2:
        return PlayGroup::Group1;
    default:
        return PlayGroup::All;
    }
}

// A group with nothing in it leaves nothing to drill, and without group 2 there is no choice
// to make: all sentences play.
PlayGroup settledPlayGroup(PlayGroup group, const QList<int> &group1, const QList<int> &group2)
{
    if (group2.isEmpty())
        return PlayGroup::All;
    if (group == PlayGroup::Group2 || (group == PlayGroup::Group1 && !group1.isEmpty()))
        return group;
    return PlayGroup::All;
}

bool isRepeating(PlayMode mode)
{
    return mode == PlayMode::Repeat || mode == PlayMode::AutoNext;
}

} // namespace

RepeatSession::RepeatSession(QObject *parent)
    : QObject(parent)
{
    speakingPause.timer.setSingleShot(true);
    connect(&speakingPause.timer, &QTimer::timeout, this, &RepeatSession::finishSpeakingPause);
    speakingPause.ticker.setInterval(speakingPauseTickMs);
    connect(&speakingPause.ticker, &QTimer::timeout, this, [this] {
        const qint64 left = qMax<qint64>(0, speakingPause.lengthMs - speakingPause.clock.elapsed());
        emit speakingPauseProgress(speakingPause.sentence, left);
    });
}

// ---- the lesson and the choices ----

void RepeatSession::setSentences(const QList<SubtitleItem> &sentences, const QList<int> &group2)
{
    cancelSpeakingPause();
    items = sentences;
    group2Members = group2;
    rebuildGroups();
    applyPlayMode();
    // A new play list starts a new pass, at its first sentence (none without sentences).
    beginPass(items.isEmpty() ? -1 : 0);
    applyPlayList();
    refreshText();
}

void RepeatSession::setSentenceTimes(const QList<SubtitleItem> &sentences)
{
    items = sentences;
    armEndPoint();
}

void RepeatSession::setPlayMode(PlayMode chosen)
{
    requested = chosen;
    applyPlayMode();
}

// The one place the mode asked for becomes the mode played: a lesson without sentences has
// nothing to repeat and plays normally.
void RepeatSession::applyPlayMode()
{
    cancelSpeakingPause();
    mode = items.isEmpty() ? PlayMode::NormalPlay : requested;
    setRound(0);
    endHandled = -1;
    emit playModeChanged(mode);
    armEndPoint();
}

void RepeatSession::setRepeatCount(int count)
{
    repeats = std::max(1, count);
    armEndPoint();
}

void RepeatSession::setPassRates(const QList<double> &rates)
{
    passRates = rates;
    setRound(round);
}

void RepeatSession::setPauseChoice(int choice)
{
    pauseChoice = std::clamp(choice, 0, 3);
    armEndPoint();
}

void RepeatSession::setDisplayMode(SubtitleDisplay chosen)
{
    display = chosen;
    // The pass in progress counts as the first one again.
    setRound(0);
    refreshText();
}

void RepeatSession::setPlayGroup(PlayGroup chosen)
{
    group = chosen;
}

void RepeatSession::setGroups(const QList<int> &group1, const QList<int> &group2)
{
    group1Members = group1;
    group2Members = group2;
    applyPlayList();
}

void RepeatSession::setChineseLinesHidden(bool hidden)
{
    chineseHidden = hidden;
    refreshText();
}

void RepeatSession::setSecondLines(const QStringList &lines)
{
    secondLines = lines;
    refreshText();
}

void RepeatSession::setSecondLinesShown(bool shown)
{
    secondShown = shown;
    refreshText();
}

void RepeatSession::restorePlaceOnLoad(qint64 position, int sentence, int repetition)
{
    placeToRestore = {position, sentence, repetition};
}

const QList<int> &RepeatSession::playList() const
{
    switch (group) {
    case PlayGroup::Group2:
        return group2Members;
    case PlayGroup::Group1:
        return group1Members;
    default:
        return allMembers;
    }
}

// ---- passes ----

// The one way a sentence becomes current: its first repetition, its end not yet acted on.
void RepeatSession::beginPass(int sentence)
{
    const bool changed = sentence != current;
    current = sentence;
    setRound(0);
    endHandled = -1;
    armEndPoint();
    if (changed)
        emit currentSentenceChanged(current);
}

// The one writer of the repetition: in auto next each pass may have a rate of its own.
void RepeatSession::setRound(int value)
{
    round = value;
    if (mode == PlayMode::AutoNext && !passRates.isEmpty())
        emit rateChanged(Shadowing::rateForPass(passRates, round, 1.0));
}

EndAction RepeatSession::endActionFor(int sentence) const
{
    return SentenceChoice::endActionFor(int(mode), round, repeats, items, sentence, nextInPlayList());
}

int RepeatSession::nextInPlayList() const
{
    return SentenceChoice::nextInPlayList(items, playList(), current);
}

void RepeatSession::onPosition(qint64 position)
{
    lastPosition = position;
    if (sliderHeld || items.isEmpty()) {
        armEndPoint();
        return;
    }
    const SentenceChoice::Span span = SentenceChoice::spanOf(items, playList());
    if (span.last < span.first) {
        armEndPoint();
        return;
    }
    const int g = current;
    if (span.contains(g)) {
        // The end point held by the engine is its to report; playback stands there until then,
        // whatever sentence the position would fall into.
        const bool heldByEngine =
            endPointSentence == g && endPoint >= 0 && position < endPoint + endPointSlackMs;
        if (heldByEngine && position >= endPoint) {
            armEndPoint();
            return;
        }
        if (position < SentenceTiming::endReachedAt(items, g)) {
            endHandled = -1;
        } else if (g != endHandled && !heldByEngine) {
            // Once per pass over the end, however many reports fall into the tail.
            if (handleSentenceEnd(g)) {
                armEndPoint();
                return;
            }
        }
    }

    // While a sentence is being repeated it keeps the position until its own end, even where the
    // next cue already overlaps it; otherwise the overlap would end the repetition.
    const int found = SentenceChoice::holdingSentence(items, span, position, isRepeating(mode) ? g : -1);
    if (found < 0) {
        // Between sentences nothing is said; text asked for on demand stays until let go.
        if (!revealed)
            showText(QString());
    } else if (found != current) {
        beginPass(found);
        refreshText();
    } else if (shownText.isEmpty()) {
        refreshText();
    }
    armEndPoint();
}

void RepeatSession::onEndPointReached(qint64 position, bool jumped)
{
    const int g = endPointSentence;
    if (sliderHeld || g != current || g == endHandled || !isSentence(g)) {
        armEndPoint();
        return;
    }
    lastPosition = position;
    if (jumped && endThen.jumps()) {
        followJump(g);
        return;
    }
    if (!handleSentenceEnd(g))
        setEndPoint(-1); // it runs on from here
    armEndPoint();
}

// A last sentence whose tail runs past the end of the media never reaches its end point: the
// engine stops first. A repeater must still repeat it, so the end of the media counts as the
// end of the sentence being drilled.
void RepeatSession::onEndOfMedia()
{
    if (!isRepeating(mode) || sliderHeld)
        return;
    if (!isSentence(current) || current == endHandled || mediaDuration < items.at(current).startMs)
        return;
    if (handleSentenceEnd(current) && !speakingPauseActive())
        emit playRequested();
}

// The media has loaded, or loaded again after its end: a pass that holds the place goes on (a
// seek from the end of the media lands in the lead-in of the sentence it chose).
void RepeatSession::onMediaLoaded()
{
    const bool currentHolds = isSentence(current) &&
                              lastPosition >= SentenceTiming::leadStart(items, current) &&
                              lastPosition <= SentenceTiming::passEndPoint(items, current);
    if (!currentHolds)
        beginPass(SentenceTiming::indexAt(items, lastPosition));
    refreshText();
    if (placeToRestore.position >= 0) {
        const Place place = std::exchange(placeToRestore, Place{});
        restorePlace(place.position, place.sentence, place.round);
    }
    emit playRequested();
}

void RepeatSession::setDuration(qint64 duration)
{
    mediaDuration = duration;
    const int at = SentenceTiming::indexAt(items, lastPosition);
    if (at != current) {
        current = at;
        emit currentSentenceChanged(current);
    }
    refreshText();
}

void RepeatSession::setPlayback(Playback state)
{
    playback = state;
}

bool RepeatSession::handleSentenceEnd(int sentence)
{
    if (!isSentence(sentence))
        return false;
    endHandled = sentence;
    const EndAction action = endActionFor(sentence);
    const qint64 pauseMs = Shadowing::pauseMs(pauseChoice, items.at(sentence));
    // Paused by the learner as the sentence ended (the engine tells of the end a little after
    // the sound): their pause holds, and Space goes on with what the end leads to.
    if (pauseMs > 0 && playback != Playback::Paused) {
        beginSpeakingPause(action, pauseMs);
        return true;
    }
    return carryOut(action);
}

bool RepeatSession::carryOut(const EndAction &action)
{
    switch (action.kind) {
    case EndAction::Replay:
        setRound(action.countsPass ? round + 1 : 0);
        break;
    case EndAction::Next:
        beginPass(action.sentence);
        break;
    case EndAction::RunOn:
        setRound(0);
        return false;
    }
    seekToSentence(action.sentence);
    refreshText();
    return true;
}

// The engine stops the sound at the end of a pass that ends in a seek or a pause to speak,
// exactly where it is due; a pass that simply runs on needs no end point.
void RepeatSession::armEndPoint()
{
    int sentence = -1;
    if (!items.isEmpty() && !sliderHeld && isSentence(current) && current != endHandled &&
        SentenceChoice::spanOf(items, playList()).contains(current)) {
        const EndAction action = endActionFor(current);
        if (action.kind != EndAction::RunOn || Shadowing::pauseMs(pauseChoice, items.at(current)) > 0)
            sentence = current;
    }
    endPointSentence = sentence;
    if (sentence < 0)
        setEndPoint(-1);
    else
        setEndPoint(SentenceTiming::passEndPoint(items, sentence), passEndFor(sentence));
}

// What the engine does at the end of this pass without waiting for us: seek on to the pass the
// end leads to, at that pass's rate. A pause to speak, or a pass that runs on, holds there.
PassEnd RepeatSession::passEndFor(int sentence) const
{
    if (Shadowing::pauseMs(pauseChoice, items.at(sentence)) > 0)
        return PassEnd::hold();
    const EndAction action = endActionFor(sentence);
    if (action.kind == EndAction::RunOn || !isSentence(action.sentence))
        return PassEnd::hold();
    const int nextRound = action.kind == EndAction::Replay && action.countsPass ? round + 1 : 0;
    const qreal rate = mode == PlayMode::AutoNext && !passRates.isEmpty()
                           ? Shadowing::rateForPass(passRates, nextRound, 1.0)
                           : 0;
    return PassEnd::jump(SentenceTiming::leadStart(items, action.sentence), rate,
                         SentenceTiming::passEndPoint(items, action.sentence));
}

// The engine has sought on by itself, as it was told: the drill follows without a seek of its
// own, and tells the engine what ends the new pass.
void RepeatSession::followJump(int sentence)
{
    const EndAction action = endActionFor(sentence);
    // What the engine now holds, so that telling it the same again is no news.
    const qint64 endedAt = endPoint;
    endPoint = endThen.nextEndPoint;
    endThen = endThen.following(endedAt);
    if (action.kind == EndAction::Replay)
        setRound(action.countsPass ? round + 1 : 0);
    else
        beginPass(action.sentence);
    endHandled = -1;
    refreshText();
    armEndPoint();
}

void RepeatSession::setEndPoint(qint64 position, const PassEnd &then)
{
    if (position == endPoint && then == endThen)
        return;
    endPoint = position;
    endThen = then;
    emit endPointChanged(position, then);
}

// ---- seeks ----

// Every seek of the drill: a new pass over where it lands, whose end is not yet acted on.
void RepeatSession::requestSeek(qint64 position)
{
    lastPosition = position;
    endHandled = -1;
    // The engine drops an end point the seek passes.
    if (endPoint >= 0 && endPoint <= position) {
        endPoint = -1;
        endThen = PassEnd::hold();
    }
    emit seekRequested(position);
    armEndPoint();
    // A seek while the learner speaks drops what was to follow: playback goes on from here.
    cancelSpeakingPause();
}

void RepeatSession::seekToSentence(int sentence)
{
    if (isSentence(sentence))
        requestSeek(SentenceTiming::leadStart(items, sentence));
}

// The sentence of the play list a seek to position belongs to becomes current; -1 for none.
int RepeatSession::syncToPosition(qint64 position)
{
    if (items.isEmpty())
        return -1;
    if (playList().isEmpty())
        applyPlayList();
    const int b = SentenceChoice::sentenceForSeek(items, position);
    if (!isSentence(b))
        return -1;
    beginPass(SentenceChoice::playListMemberFor(items, playList(), b, position));
    return current;
}

void RepeatSession::seekTo(qint64 position)
{
    position = qMax<qint64>(0, position);
    if (items.isEmpty()) {
        requestSeek(position);
        return;
    }
    if (playList().isEmpty())
        applyPlayList();
    const int b = SentenceChoice::sentenceForSeek(items, position);
    const int chosen = SentenceChoice::playListMemberFor(items, playList(), b, position);
    beginPass(chosen);
    const SubtitleItem &item = items.at(chosen);
    if (chosen == b && position >= item.startMs && position < item.endMs)
        requestSeek(position);
    else
        seekToSentence(chosen);
    refreshText();
}

void RepeatSession::seekBy(qint64 delta)
{
    if (items.isEmpty())
        return;
    qint64 target = lastPosition + delta;
    if (mediaDuration > 0 && target > mediaDuration)
        target = mediaDuration;
    target = qMax<qint64>(0, target);
    // The sentence is chosen before the engine moves, so that a report of the new place is never
    // taken for the end of the sentence left behind.
    syncToPosition(target);
    requestSeek(target);
    if (isSentence(current) && target >= items.at(current).startMs)
        refreshText();
    else
        showText(QString());
}

void RepeatSession::replaySentence(int sentence)
{
    if (!isSentence(sentence))
        return;
    if (speakingPauseActive())
        stopSpeakingPause();
    beginPass(sentence);
    seekToSentence(sentence);
    refreshText();
    emit playRequested();
}

void RepeatSession::hold()
{
    if (speakingPauseActive())
        stopSpeakingPause();
    emit pauseRequested();
}

// A sentence of the play list is current: the one at the position when the current one is not.
bool RepeatSession::settleCurrentInPlayList()
{
    if (items.isEmpty())
        return false;
    const QList<int> &list = playList();
    if (isSentence(current) && (list.isEmpty() || list.contains(current)))
        return true;
    return syncToPosition(lastPosition) >= 0;
}

void RepeatSession::next()
{
    if (!settleCurrentInPlayList())
        return;
    const int next = nextInPlayList();
    if (!isSentence(next))
        return;
    beginPass(next);
    seekToSentence(next);
    refreshText();
}

void RepeatSession::skip()
{
    if (!settleCurrentInPlayList())
        return;
    const int skipped = current;
    if (!isSentence(skipped))
        return;
    // Taken before the skipped sentence leaves the play list.
    const int next = nextInPlayList();
    addToGroup2(skipped);
    // The only sentence of the play list starts again, on the list it had.
    const bool movesOn = isSentence(next) && next != skipped;
    if (movesOn)
        emit playListChanged(group, playList());
    const int played = movesOn ? next : skipped;
    beginPass(played);
    seekToSentence(played);
    refreshText();
}

// Space: the pause to speak ends at once, otherwise playback stops or goes on.
void RepeatSession::togglePlay()
{
    if (speakingPauseActive())
        finishSpeakingPause();
    else if (playback == Playback::Playing)
        emit pauseRequested();
    else
        emit playRequested();
}

void RepeatSession::holdSlider()
{
    sliderHeld = true;
    armEndPoint();
}

void RepeatSession::releaseSlider(qint64 position)
{
    const bool wasPlaying = playback == Playback::Playing;
    emit pauseRequested();
    requestSeek(position);
    const int sentence = syncToPosition(position);
    if (sentence >= 0 && position >= items.at(sentence).startMs)
        refreshText();
    else
        showText(QString());
    QTimer::singleShot(sliderSettleMs, this, [this, wasPlaying] {
        sliderHeld = false;
        armEndPoint();
        if (wasPlaying)
            emit playRequested();
    });
}

void RepeatSession::reveal(bool shown)
{
    if (revealed == shown)
        return;
    revealed = shown;
    refreshText();
}

bool RepeatSession::moveSentenceEdge(Shadowing::Edge edge, qint64 deltaMs)
{
    if (!Shadowing::moveEdge(items, current, edge, deltaMs))
        return false;
    armEndPoint();
    return true;
}

bool RepeatSession::shiftSentences(qint64 deltaMs)
{
    if (!Shadowing::shiftAll(items, deltaMs))
        return false;
    armEndPoint();
    return true;
}

void RepeatSession::restorePlace(qint64 position, int sentence, int repetition)
{
    // The file may have been replaced by a shorter one since the place was stored.
    if (position > mediaDuration) {
        position = 0;
        sentence = -1;
    }
    const QList<int> &list = playList();
    const bool inPlayList = isSentence(sentence) && (list.isEmpty() || list.contains(sentence));
    if (!inPlayList || position < SentenceTiming::leadStart(items, sentence) ||
        position > SentenceTiming::passEndPoint(items, sentence)) {
        seekTo(position);
    } else {
        beginPass(sentence);
        requestSeek(position);
    }
    setRound(std::clamp(repetition, 0, repeats - 1));
    refreshText();
}

// ---- groups and the play list ----

void RepeatSession::rebuildGroups()
{
    const int count = int(items.size());
    group2Members = validGroup2(group2Members, count);
    allMembers.clear();
    group1Members.clear();
    for (int i = 0; i < count; ++i) {
        allMembers.append(i);
        if (!group2Members.contains(i))
            group1Members.append(i);
    }
}

// Settles the group to play after the groups changed and goes to the first sentence of its list.
void RepeatSession::applyPlayList()
{
    group = settledPlayGroup(group, group1Members, group2Members);
    const QList<int> &list = playList();
    emit playListChanged(group, list);
    // Lists handed over by the subtitle browser are taken unchecked: only go to a real sentence.
    if (list.isEmpty() || !isSentence(list.first()) || !isSentence(list.last()))
        return;
    beginPass(list.first());
    requestSeek(items.at(list.first()).startMs);
}

void RepeatSession::switchGroup()
{
    if (group2Members.isEmpty() && group1Members.isEmpty())
        return;
    group = nextPlayGroup(group);
    applyPlayList();
    refreshText();
}

void RepeatSession::addToGroup2(int sentence)
{
    if (!group2Members.contains(sentence)) {
        group2Members.append(sentence);
        std::sort(group2Members.begin(), group2Members.end());
    }
    group1Members.removeAll(sentence);
    group = settledPlayGroup(group, group1Members, group2Members);
    qDebug() << "跳过：句子" << sentence << "加入组2，组2共" << group2Members.size() << "句";
    emit group2Changed(group2Members);
}

// ---- the text shown ----

// The sentence as the display mode shows it on this repetition, held down while the learner
// asks for it.
void RepeatSession::refreshText()
{
    QString text;
    if (isSentence(current) && (display != SubtitleDisplay::Never || revealed)) {
        const QString &sentence = items.at(current).text;
        const bool countsRounds = mode == PlayMode::AutoNext;
        switch (revealed ? SubtitleDisplay::Always : display) {
        case SubtitleDisplay::Always:
            text = sentence;
            break;
        case SubtitleDisplay::FirstPass:
            if (!countsRounds || round == 0)
                text = sentence;
            break;
        case SubtitleDisplay::LastPass:
            if (!countsRounds || round == repeats - 1)
                text = sentence;
            break;
        case SubtitleDisplay::Never:
            break;
        }
    }
    if (chineseHidden)
        text = ChineseLines::removedFrom(text);
    // The second subtitle goes with the sentence, on the repetitions that show it.
    if (secondShown && !text.isEmpty() && current >= 0 && current < secondLines.size() &&
        !secondLines.at(current).isEmpty())
        text += '\n' + secondLines.at(current);
    showText(text);
}

void RepeatSession::showText(const QString &text)
{
    if (text == shownText)
        return;
    shownText = text;
    emit textChanged(text);
}

// ---- the pause to speak ----

// The pass has been heard to its end: the learner speaks now. The seek the end leads to is made
// at once, paused, so that only the sound has to start again when the time is up.
void RepeatSession::beginSpeakingPause(const EndAction &action, qint64 lengthMs)
{
    const int sentence = current;
    emit pauseRequested();
    speakingPause.runsOn = !carryOut(action);
    speakingPause.sentence = sentence;
    speakingPause.lengthMs = lengthMs;
    speakingPause.clock.start();
    speakingPause.timer.start(int(lengthMs));
    speakingPause.ticker.start();
    emit speakingPauseStarted(sentence, lengthMs);
    emit speakingPauseProgress(sentence, lengthMs);
}

// The time is up, or the learner ends the pause: on as planned.
void RepeatSession::finishSpeakingPause()
{
    stopSpeakingPause();
    if (speakingPause.runsOn)
        setEndPoint(-1);
    emit playRequested();
}

// A seek, another play mode or another lesson: the plan is dropped, playback goes on.
void RepeatSession::cancelSpeakingPause()
{
    if (!speakingPauseActive())
        return;
    stopSpeakingPause();
    emit playRequested();
}

void RepeatSession::stopSpeakingPause()
{
    speakingPause.timer.stop();
    speakingPause.ticker.stop();
    emit speakingPauseEnded(speakingPause.sentence);
}
