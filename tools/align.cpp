// orviloop-align LESSON...: moves the start and end of every sentence of each lesson onto its
// speech, as the player's "对齐" does: takes over the lesson's ".srt" as the player does, writes
// the ".srt1" (the first original kept beside it as ".srt1.orig"), prints one line per sentence
// moved and a summary. "--undo" puts the original back. Exits non-zero when a lesson fails.

#include "core/align/sentencealignment.h"
#include "core/align/speechactivity.h"
#include "core/subtitles/srtparser.h"
#include "tools/consolestreams.h"
#include "core/subtitles/subtitlelookup.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QTextStream>

#include <cstdio>

namespace {

QString signedMs(qint64 ms)
{
    return (ms >= 0 ? "+" : "") + QString::number(ms);
}

QString movedLine(const SubtitleItem &before, const SubtitleItem &after)
{
    QString text = after.text;
    text.replace('\n', " / ");
    return QString("%1\t%2 --> %3\t(%4 ms, %5 ms)\t%6")
        .arg(after.index + 1)
        .arg(srtTimeStamp(after.startMs), srtTimeStamp(after.endMs), signedMs(after.startMs - before.startMs),
             signedMs(after.endMs - before.endMs), text);
}

// The subtitle the player would play with the lesson, taken over as it does.
QString lessonSubtitle(const QString &media)
{
    const SubtitleLookup lookup = lookUpSubtitle(mediaUrlFor(media), QFileInfo(media).absolutePath());
    for (const QString &line : lookup.log)
        err() << line << Qt::endl;
    return lookup.path;
}

bool alignLesson(const QString &media)
{
    out() << "== " << media << Qt::endl;
    const QString subtitle = lessonSubtitle(media);
    const QList<SubtitleItem> sentences = subtitle.isEmpty() ? QList<SubtitleItem>() : parseSrtFile(subtitle);
    if (sentences.isEmpty()) {
        err() << "❌ 没有可对齐的句子：" << (subtitle.isEmpty() ? media : subtitle) << Qt::endl;
        return false;
    }
    int shown = -1;
    const SpeechAnalysis analysis =
        cachedSpeechAnalysis(media, speechCacheDirectory(), [&shown](int percent) {
            if (percent / 10 != shown / 10)
                err() << "分析声音 " << percent << "%" << Qt::endl;
            shown = percent;
            return true;
        });
    if (analysis.status != SpeechAnalysisStatus::Done) {
        err() << "❌ " << analysis.message << Qt::endl;
        return false;
    }
    const SentenceAlignment aligned =
        alignToSpeech(speechSegments(analysis.activity), analysis.activity.durationMs(), sentences);
    for (int index : aligned.moved)
        out() << movedLine(sentences.at(index), aligned.sentences.at(index)) << Qt::endl;
    if (!aligned.moved.isEmpty() && !saveSrtTimes(subtitle, aligned.sentences)) {
        err() << "❌ 无法写入字幕文件（文件夹只读？），字幕未改动：" << subtitle << Qt::endl;
        return false;
    }
    out() << QString("对齐完成：%1 句中移动了 %2 句").arg(sentences.size()).arg(aligned.moved.size());
    if (!aligned.moved.isEmpty())
        out() << QString("，原字幕保留在 %1.orig").arg(subtitle);
    out() << Qt::endl;
    return true;
}

// The subtitle as it was before its times were first mended.
bool undoLesson(const QString &media)
{
    const QString subtitle = lessonSubtitle(media);
    const QString original = subtitle + ".orig";
    if (subtitle.isEmpty() || !QFileInfo::exists(original)) {
        err() << "❌ 没有可恢复的原字幕：" << (subtitle.isEmpty() ? media : original) << Qt::endl;
        return false;
    }
    // In one step: a failed write leaves the mended subtitle as it was.
    QFile kept(original);
    QSaveFile restored(subtitle);
    if (!kept.open(QIODevice::ReadOnly) || !restored.open(QIODevice::WriteOnly) ||
        restored.write(kept.readAll()) < 0 || !restored.commit()) {
        err() << "❌ 无法恢复原字幕（文件夹只读？）：" << subtitle << Qt::endl;
        return false;
    }
    QFile::remove(original);
    out() << "已恢复原字幕：" << subtitle << Qt::endl;
    return true;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setOrganizationName("Orvi");
    QCoreApplication::setApplicationName("OrviLoop");
    QStringList lessons = app.arguments().mid(1);
    const bool undo = lessons.removeAll("--undo") > 0;
    if (lessons.isEmpty() || lessons.first() == "--help") {
        std::fputs(
            "usage: orviloop-align [--undo] LESSON...\n"
            "Moves the start and end of every sentence of LESSON's .srt1 (else .srt) onto its speech;\n"
            "the original subtitle is kept as .srt1.orig, and --undo puts it back.\n",
            stderr);
        return 2;
    }
    int failures = 0;
    for (const QString &lesson : lessons) {
        if (!(undo ? undoLesson(lesson) : alignLesson(lesson)))
            ++failures;
    }
    return failures > 0 ? 1 : 0;
}
