// Reading and parsing whole SRT files of 1 000, 10 000 and 100 000 cues. Goal: 100 000
// cues (about 10 MB) read and parsed in under 100 ms on one core. And an ASS file of 3 000
// events (a feature film) read in under 50 ms.

#include "core/subtitles/srtparser.h"
#include "core/subtitles/subtitlereaders.h"

#include <benchmark/benchmark.h>

#include <QFile>
#include <QMap>
#include <QTemporaryDir>

namespace {

QByteArray stamp(qint64 ms)
{
    return QString("%1:%2:%3,%4")
        .arg(ms / 3600000, 2, 10, QChar('0'))
        .arg(ms / 60000 % 60, 2, 10, QChar('0'))
        .arg(ms / 1000 % 60, 2, 10, QChar('0'))
        .arg(ms % 1000, 3, 10, QChar('0'))
        .toLatin1();
}

// A lesson as they come: plain lines, italics and position codes, an English line with
// its Chinese translation, and now and then a sound description the reader drops.
QByteArray cueText(int i)
{
    const QByteArray n = QByteArray::number(i);
    if (i % 20 == 7)
        return "[Music]";
    if (i % 20 == 13)
        return "(applause)";
    if (i % 3 == 0)
        return "<i>This is English sentence number " + n + ".</i>\n" +
               QString("这是第%1句中文字幕。").arg(i).toUtf8();
    if (i % 5 == 1)
        return "{\\an8}<font color=\"#ffff00\">Sentence " + n + "</font>\\Nwith a hard line break";
    return "Plain sentence number " + n + ", long enough to look like real speech.";
}

QByteArray makeSrt(int cues)
{
    QByteArray srt;
    srt.reserve(qsizetype(cues) * 110);
    for (int i = 0; i < cues; ++i) {
        const qint64 start = qint64(i) * 2500;
        srt += QByteArray::number(i + 1) + "\r\n" + stamp(start) + " --> " + stamp(start + 2000) + "\r\n" +
               cueText(i) + "\r\n\r\n";
    }
    return srt;
}

QByteArray assStamp(qint64 ms)
{
    return QString("%1:%2:%3.%4")
        .arg(ms / 3600000)
        .arg(ms / 60000 % 60, 2, 10, QChar('0'))
        .arg(ms / 1000 % 60, 2, 10, QChar('0'))
        .arg(ms / 10 % 100, 2, 10, QChar('0'))
        .toLatin1();
}

// An ASS file as subtitle groups write them: styles, override tags on most events, comments.
QByteArray makeAss(int events)
{
    QByteArray ass =
        "[Script Info]\nScriptType: v4.00+\nPlayResX: 1920\nPlayResY: 1080\n\n[V4+ Styles]\n"
        "Format: Name, Fontname, Fontsize, PrimaryColour, SecondaryColour, OutlineColour, BackColour, "
        "Bold, Italic, Underline, StrikeOut, ScaleX, ScaleY, Spacing, Angle, BorderStyle, Outline, "
        "Shadow, Alignment, MarginL, MarginR, MarginV, Encoding\n"
        "Style: Default,Arial,60,&H00FFFFFF,&H000000FF,&H00000000,&H00000000,0,0,0,0,100,100,0,0,1,2,"
        "1,2,10,10,10,1\n\n[Events]\n"
        "Format: Layer, Start, End, Style, Name, MarginL, MarginR, MarginV, Effect, Text\n";
    ass.reserve(qsizetype(events) * 160);
    for (int i = 0; i < events; ++i) {
        const qint64 start = qint64(i) * 2500;
        const QByteArray kind = i % 50 == 9 ? "Comment" : "Dialogue";
        ass += kind + ": 0," + assStamp(start) + "," + assStamp(start + 2000) + ",Default,,0,0,0,," +
               (i % 2 ? "{\\fad(200,200)\\c&H00FFFF&}" : "") + "Sentence number " + QByteArray::number(i) +
               ", with a comma\\N" + QString("第%1句中文字幕").arg(i).toUtf8() + "\n";
    }
    return ass;
}

struct Lesson
{
    QString path;
    qint64 bytes = 0;
};

// One file per size, written once for the whole run.
Lesson lessonWithCues(int cues)
{
    static QTemporaryDir dir;
    static QMap<int, Lesson> lessons;
    if (!lessons.contains(cues)) {
        const QByteArray srt = makeSrt(cues);
        Lesson lesson{dir.filePath(QString("lesson-%1.srt").arg(cues)), srt.size()};
        QFile file(lesson.path);
        if (!file.open(QIODevice::WriteOnly) || file.write(srt) != srt.size())
            return {};
        lessons.insert(cues, lesson);
    }
    return lessons.value(cues);
}

void BM_ParseSrtFile(benchmark::State &state)
{
    const int cues = int(state.range(0));
    const Lesson lesson = lessonWithCues(cues);
    if (lesson.path.isEmpty()) {
        state.SkipWithError("cannot write the lesson file");
        return;
    }
    qsizetype accepted = 0;
    for (auto _ : state) {
        const QList<SubtitleItem> items = parseSrtFile(lesson.path);
        accepted = items.size();
        benchmark::DoNotOptimize(accepted);
    }
    state.SetBytesProcessed(state.iterations() * lesson.bytes);
    state.counters["cues/s"] =
        benchmark::Counter(double(cues), benchmark::Counter::kIsIterationInvariantRate);
    state.counters["accepted"] = double(accepted);
    state.counters["MB"] = double(lesson.bytes) / 1e6;
}

void BM_ReadAssFile(benchmark::State &state)
{
    const int events = int(state.range(0));
    static QTemporaryDir dir;
    const QByteArray ass = makeAss(events);
    const QString path = dir.filePath(QString("film-%1.ass").arg(events));
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(ass) != ass.size()) {
        state.SkipWithError("cannot write the ASS file");
        return;
    }
    file.close();
    qsizetype accepted = 0;
    for (auto _ : state) {
        accepted = readSubtitleFile(path).size();
        benchmark::DoNotOptimize(accepted);
    }
    state.SetBytesProcessed(state.iterations() * ass.size());
    state.counters["accepted"] = double(accepted);
}

} // namespace

BENCHMARK(BM_ReadAssFile)->Arg(3000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ParseSrtFile)->Arg(1000)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
