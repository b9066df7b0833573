#include "gui/player/playerwindow.h"

#include "core/groups/group2store.h"
#include "core/settings/settings.h"
#include "core/subtitles/mendedtimes.h"
#include "core/subtitles/secondsubtitle.h"
#include "core/subtitles/srtparser.h"
#include "core/subtitles/subtitlereaders.h"
#include "core/subtitles/subtitlelookup.h"
#include "core/subtitles/subtitletracks.h"
#include "ui_playerwindow.h"

#include <QDebug>
#include <QFileInfo>
#include <QFutureWatcher>
#include <QPushButton>
#include <QUrl>
#include <QtConcurrent/QtConcurrentRun>

#include <algorithm>

// Loading the subtitle of a media file into the player.

namespace {

constexpr QStringView noSentenceLabel(u"字幕文件中没有可用的句子：");
const QString secondTrackReaderName = QStringLiteral("secondTrackReader");
const QString trackReaderName = QStringLiteral("subtitleTrackReader");

void writeDebugLine(const QString &line)
{
    qDebug().noquote() << line;
}

} // namespace

void PlayerWindow::loadSubtitles(const QString &path)
{
    if (path.isEmpty())
        return;
    lesson.file = path;
    updateTitle();
    const QUrl url = mediaUrlFor(path);
    player->setSource(url);

    // A track still being read for the lesson before is not wanted any more.
    qDeleteAll(findChildren<QObject *>(trackReaderName, Qt::FindDirectChildrenOnly));
    const QString language = Settings::load().subtitleLanguage;
    const SubtitleLookup lookup = lookUpSubtitle(url, lesson.workingDirectory, language, TrackReading::Later);
    // Started first, so that it keeps the group chosen before an empty play list settles it.
    if (lookup.trackPending)
        readSubtitleTrack(url, language);
    applySubtitleLookup(lookup);
}

// The lesson plays meanwhile, normally; its sentences come when the track has been read, at the
// group the learner had chosen.
void PlayerWindow::readSubtitleTrack(const QUrl &media, const QString &language)
{
    auto *reader = new QFutureWatcher<SubtitleLookup>(this);
    reader->setObjectName(trackReaderName);
    connect(reader, &QFutureWatcher<SubtitleLookup>::finished, this,
            [this, reader, group = session->playGroup()] {
                reader->deleteLater();
                session->setPlayGroup(group);
                applySubtitleLookup(reader->result());
            });
    reader->setFuture(QtConcurrent::run([media, language, directory = lesson.workingDirectory] {
        return lookUpSubtitle(media, directory, language);
    }));
}

bool PlayerWindow::hasSubtitle() const
{
    return !lesson.subtitlePath.isEmpty() ||
           findChild<QObject *>(trackReaderName, Qt::FindDirectChildrenOnly);
}

void PlayerWindow::applySubtitleLookup(const SubtitleLookup &lookup)
{
    for (const QString &line : lookup.log)
        writeDebugLine(line);
    const bool found = !lookup.path.isEmpty() && QFileInfo::exists(lookup.path);
    lesson.subtitlePath = found ? lookup.path : QString();
    QList<SubtitleItem> subtitles;
    if (found) {
        subtitles = MendedTimes::read(lookup.path);
        subtitles.removeIf([](const SubtitleItem &item) { return item.text.trimmed().isEmpty(); });
        // Times that all read as nothing (a format this reader does not know) cannot be drilled.
        if (std::all_of(subtitles.cbegin(), subtitles.cend(),
                        [](const SubtitleItem &item) { return item.endMs <= item.startMs; }))
            subtitles.clear();
        writeDebugLine(subtitleLoadedLine(lookup.path, subtitles.size()));
    } else if (!lookup.trackPending) {
        writeDebugLine(subtitleNotFoundLine(lookup));
    }
    // Group 2 waits for the sentences of a track being read.
    QList<int> group2 = session->group2();
    if (storedGroup2Pending && !lookup.trackPending) {
        // A damaged store may claim billions of entries; a lesson uses no more than its sentences.
        storedGroup2Pending = false;
        group2 = Group2Store::read(int(subtitles.size()));
    }
    if (found && subtitles.isEmpty())
        showSubtitleNotice(noSentenceLabel.toString() + QFileInfo(lookup.path).fileName() +
                           "（只能正常播放）");
    else if (!lookup.problem.isEmpty())
        showSubtitleNotice(lookup.problem + "（只能正常播放）");
    else if (!lookup.takenFrom.isEmpty())
        showSubtitleNotice("字幕取自 " + lookup.takenFrom + "   ", true);
    else if (lookup.trackPending)
        showSubtitleNotice("正在读取媒体内的字幕轨…   ", true);
    else
        showSubtitleNotice(QString());

    session->setSentences(subtitles, group2);
    loadSecondSubtitle();
    updateFilterChineseButton();
    showPlayModeForSubtitles();
}

// The second subtitle beside a local lesson, or else the media's next text track, paired to its
// sentences; its button shows only where there is one.
void PlayerWindow::loadSecondSubtitle()
{
    const QUrl url = mediaUrlFor(lesson.file);
    const QString mediaPath = url.isLocalFile() ? url.toLocalFile() : QString();
    const QString secondPath = mediaPath.isEmpty() ? QString() : findSecondSubtitle(mediaPath);
    const QList<SubtitleItem> &sentences = session->sentences();
    QStringList secondLines;
    // A track still being read for the lesson before is not wanted any more.
    qDeleteAll(findChildren<QObject *>(secondTrackReaderName, Qt::FindDirectChildrenOnly));
    if (!secondPath.isEmpty() && !sentences.isEmpty()) {
        secondLines = pairByOverlap(sentences, readSubtitleFile(secondPath));
        writeDebugLine(QString("第二字幕: \"%1\"").arg(secondPath));
    } else if (!mediaPath.isEmpty() && !sentences.isEmpty()) {
        readSecondTrack(mediaPath);
    }
    showSecondSubtitle(secondLines);
}

// ffmpeg reads the whole media to reach every cue: on a pool thread, while the lesson plays.
void PlayerWindow::readSecondTrack(const QString &mediaPath)
{
    auto *reader = new QFutureWatcher<TrackSentences>(this);
    reader->setObjectName(secondTrackReaderName);
    connect(reader, &QFutureWatcher<TrackSentences>::finished, this, [this, reader] {
        reader->deleteLater();
        const TrackSentences second = reader->result();
        if (second.items.isEmpty() || session->sentences().isEmpty())
            return;
        writeDebugLine(QString("第二字幕: %1").arg(second.source));
        showSecondSubtitle(pairByOverlap(session->sentences(), second.items));
    });
    reader->setFuture(QtConcurrent::run(readSecondTrackSentences, mediaPath,
                                        Settings::load().subtitleLanguage, session->sentences()));
}

void PlayerWindow::showSecondSubtitle(const QStringList &secondLines)
{
    if (ui && !btnSecondSubtitle) {
        btnSecondSubtitle = new QPushButton(this);
        btnSecondSubtitle->setObjectName("btnSecondSubtitle");
        btnSecondSubtitle->setMinimumSize(50, 28);
        btnSecondSubtitle->setToolTip("在句子下显示第二字幕（T）");
        btnSecondSubtitle->setFocusPolicy(Qt::NoFocus);
        ui->controlLayout->insertWidget(ui->controlLayout->indexOf(ui->btnFilterChinese) + 1,
                                        btnSecondSubtitle);
        connect(btnSecondSubtitle, &QPushButton::clicked, this, &PlayerWindow::toggleSecondSubtitle);
    }
    session->setSecondLines(secondLines);
    if (btnSecondSubtitle) {
        btnSecondSubtitle->setVisible(!secondLines.isEmpty());
        btnSecondSubtitle->setText(session->secondLinesShown() ? "字幕2:关" : "字幕2:开");
    }
}

void PlayerWindow::toggleSecondSubtitle()
{
    if (!btnSecondSubtitle || !btnSecondSubtitle->isVisibleTo(this))
        return;
    session->setSecondLinesShown(!session->secondLinesShown());
    btnSecondSubtitle->setText(session->secondLinesShown() ? "字幕2:关" : "字幕2:开");
}

void PlayerWindow::setWorkingDirectory(const QString &dir)
{
    lesson.workingDirectory = dir;
}

// A subtitle file that gives no sentence (a foreign encoding, sound notes only, unreadable,
// times that all read as 0) would otherwise look like a lesson without subtitle, and sentences
// taken from another format or a media track should say where they came from; the title says
// so until the next load puts the usual title back.
void PlayerWindow::showSubtitleNotice(const QString &notice, bool keepUsualTitle)
{
    const bool noticeShown = !subtitleNotice.title.isEmpty() && windowTitle() == subtitleNotice.title;
    if (!noticeShown)
        subtitleNotice.usualTitle = windowTitle();
    if (notice.isEmpty()) {
        if (noticeShown)
            setWindowTitle(subtitleNotice.usualTitle);
        subtitleNotice.title.clear();
        return;
    }
    subtitleNotice.title = keepUsualTitle ? notice + subtitleNotice.usualTitle : notice;
    setWindowTitle(subtitleNotice.title);
    // A problem is also told over the video, where it is seen in full screen too.
    if (!keepUsualTitle)
        showNotice(notice);
}

// Without subtitles only normal play makes sense: the list says so until a lesson with
// sentences comes (the session keeps the mode asked for).
void PlayerWindow::showPlayModeForSubtitles()
{
    const bool hasSentences = !session->sentences().isEmpty();
    ui->comboPlayMode->setEnabled(hasSentences);
    ui->comboPlayMode->setToolTip(hasSentences ? QString() : QString("未找到字幕：只能正常播放"));
}
