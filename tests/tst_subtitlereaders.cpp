#include "core/subtitles/secondsubtitle.h"
#include "core/subtitles/srtparser.h"
#include "core/subtitles/subtitlereaders.h"
#include "core/subtitles/subtitletracks.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

namespace {

// Cues with Chinese, commas, quotes, markup, two lines and a long gap (FFmpeg's MP4 writer loses
// a gap of an hour).
const QByteArray lessonSrt = "1\n00:00:01,000 --> 00:00:02,500\nHello <i>world</i>\n\n"
                             "2\n00:00:03,250 --> 00:00:05,120\n你好，世界\nSecond line, with comma\n\n"
                             "3\n00:01:04,010 --> 00:01:06,990\nLast & \"quoted\" <b>one</b>\n\n"
                             "4\n00:35:03,450 --> 00:35:07,000\n第四句 half an hour later\n";

QStringList describe(const QList<SubtitleItem> &items)
{
    QStringList lines;
    for (const SubtitleItem &item : items)
        lines << QString("%1 %2 %3 %4").arg(item.index).arg(item.startMs).arg(item.endMs).arg(item.text);
    return lines;
}

bool writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

bool runFfmpeg(const QStringList &arguments)
{
    QProcess ffmpeg;
    ffmpeg.start("ffmpeg", QStringList{"-nostdin", "-v", "error", "-y"} + arguments);
    return ffmpeg.waitForFinished(60000) && ffmpeg.exitStatus() == QProcess::NormalExit &&
           ffmpeg.exitCode() == 0;
}

} // namespace

class tst_SubtitleReaders : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void sameSentencesAsSrt_data();
    void sameSentencesAsSrt();
    void formatFeatures_data();
    void formatFeatures();
    void clockTime_data();
    void clockTime();
    void secondSubtitle_data();
    void secondSubtitle();
    void dumpToolReadsATrack();

private:
    QTemporaryDir dir;
    QString srtPath;
};

void tst_SubtitleReaders::initTestCase()
{
    QVERIFY(dir.isValid());
    srtPath = dir.filePath("第一课 lesson.srt");
    QVERIFY(writeFile(srtPath, lessonSrt));
}

void tst_SubtitleReaders::sameSentencesAsSrt_data()
{
    QTest::addColumn<QString>("name");          // what FFmpeg writes from the SRT fixture
    QTest::addColumn<QStringList>("codecArgs"); // its subtitle codec, where it is not the name's
    QTest::addColumn<bool>("endsKnown");        // LRC keeps only the starts

    QTest::newRow("webvtt file") << "a.vtt" << QStringList() << true;
    QTest::newRow("ass file") << "a.ass" << QStringList() << true;
    QTest::newRow("ssa file") << "a.ssa" << QStringList() << true;
    QTest::newRow("lrc file") << "a.lrc" << QStringList() << false;
    QTest::newRow("mkv subrip track") << "subrip.mkv" << QStringList{"-c:s", "srt"} << true;
    QTest::newRow("mkv ass track") << "ass.mkv" << QStringList{"-c:s", "ass"} << true;
    QTest::newRow("mkv webvtt track") << "webvtt.mkv" << QStringList{"-c:s", "webvtt"} << true;
    QTest::newRow("webm webvtt track") << "a.webm" << QStringList{"-c:s", "webvtt"} << true;
    QTest::newRow("mp4 mov_text track") << "a.mp4" << QStringList{"-c:s", "mov_text"} << true;
}

// Every format, as FFmpeg writes it, gives the sentences of the SRT it came from.
void tst_SubtitleReaders::sameSentencesAsSrt()
{
    QFETCH(QString, name);
    QFETCH(QStringList, codecArgs);
    QFETCH(bool, endsKnown);
    const QString path = dir.filePath(name);
    QVERIFY(runFfmpeg(QStringList{"-i", srtPath} + codecArgs + QStringList{path}));

    const bool isMedia = codecArgs.size() > 0;
    const TrackSentences track = isMedia ? readTrackSentences(path) : TrackSentences{};
    const QList<SubtitleItem> read = isMedia ? track.items : readSubtitleFile(path);
    QCOMPARE(track.problem, QString());
    const QList<SubtitleItem> expected = parseSrtBytes(lessonSrt);
    QCOMPARE(read.size(), expected.size());
    for (int i = 0; i < expected.size(); ++i) {
        QCOMPARE(read.at(i).index, i);
        QCOMPARE(read.at(i).text, expected.at(i).text);
        QVERIFY2(qAbs(read.at(i).startMs - expected.at(i).startMs) <= 10,
                 qPrintable(describe(read).join('|')));
        if (endsKnown)
            QVERIFY2(qAbs(read.at(i).endMs - expected.at(i).endMs) <= 10,
                     qPrintable(describe(read).join('|')));
    }
}

void tst_SubtitleReaders::formatFeatures_data()
{
    QTest::addColumn<QString>("suffix");
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QStringList>("expected");

    QTest::newRow("vtt header, NOTE, STYLE, REGION, identifier and settings")
        << "vtt"
        << QByteArray(
               "\xEF\xBB\xBFWEBVTT - lesson\nKind: captions\nLanguage: en\n\n"
               "NOTE written by hand\nover two lines\n\nSTYLE\n::cue { color: yellow }\n\n"
               "REGION\nid:fred width:40%\n\nintro\n00:00:01.000 --> 00:00:02.000 align:start line:0%\n"
               "<v Roger Bingham>Hi</v> <c.yellow.bg_blue>there</c>\n\n"
               "01:00:03.500 --> 01:00:04.000 region:fred\n<lang "
               "zh><ruby>汉<rt>hàn</rt>字<rt>zì</rt></ruby></lang>\n")
        << QStringList{"0 1000 2000 Hi there", "1 3603500 3604000 汉字"};
    QTest::newRow("vtt tags, inline times and character references")
        << "vtt"
        << QByteArray(
               "WEBVTT\n\n00:01.000 --> 00:02.000\n<00:01.200>one <i>two</i> <b>three</b> <u>four</u>\n"
               "&amp; &lt;b&gt; a&nbsp;b&mdash;c &#39;d&#x4E2D; &bogus;\n\n"
               "00:03.000 --> 00:04.000\n[Music]\n")
        << QStringList{"0 1000 2000 one two three four\n& <b> a b—c 'd中 &bogus;"};
    QTest::newRow("ass comments, overrides, breaks, commas and order")
        << "ass"
        << QByteArray(
               "[Script Info]\nScriptType: v4.00+\n\n[Events]\n"
               "Format: Layer, Style, Start, End, Name, MarginL, MarginR, MarginV, Effect, Text\n"
               "Dialogue: 0,Default,0:00:05.00,0:00:06.50,,0,0,0,,{\\an8\\c&H00FFFF&}Later, then\\Nnext\n"
               "Comment: 0,Default,0:00:02.00,0:00:03.00,,0,0,0,,not spoken\n"
               "Dialogue: 0,Default,0:00:01.05,0:00:02.10,,0,0,0,,One,\\htwo\\nthree\n"
               "Dialogue: 0,Default,0:00:03.00,0:00:04.00,,0,0,0,,{\\i1}(laughs){\\i0}\n")
        << QStringList{"0 1050 2100 One, two\nthree", "1 5000 6500 Later, then\nnext"};
    QTest::newRow("ssa marked events")
        << "ssa"
        << QByteArray("[Script Info]\nScriptType: v4.00\n\n[Events]\n"
                      "Format: Marked, Start, End, Style, Name, MarginL, MarginR, MarginV, Effect, Text\n"
                      "Dialogue: Marked=0,0:00:01.00,0:00:02.00,*Default,NTP,0000,0000,0000,!Effect,第一句\n")
        << QStringList{"0 1000 2000 第一句"};
    QTest::newRow("lrc several tags, offset, metadata, word tags, empty line")
        << "lrc"
        << QByteArray("[ti:Lesson]\n[ar:Someone]\n[al:Book 1]\n[by:me]\n[offset:+500]\n"
                      "[00:01.50][00:10.500]Chorus <00:01.80>line\n[00:03.00]<00:03.00>Word <00:03.40>tags\n"
                      "[00:05.00]\n[00:12.00]Last\n")
        << QStringList{"0 1000 2500 Chorus line", "1 2500 4500 Word tags", "2 10000 11500 Chorus line",
                       "3 11500 16500 Last"};
    QTest::newRow("lrc length ends the last line")
        << "lrc" << QByteArray("[length: 01:02.50]\n[00:01.00]Only\n") << QStringList{"0 1000 62500 Only"};
    QTest::newRow("webvtt content named srt")
        << "srt" << QByteArray("WEBVTT\n\n00:01.000 --> 00:02.000\nHi\n") << QStringList{"0 1000 2000 Hi"};
    QTest::newRow("none of the formats")
        << "vtt" << QByteArray("just some text\nnothing timed\n") << QStringList();
}

void tst_SubtitleReaders::formatFeatures()
{
    QFETCH(QString, suffix);
    QFETCH(QByteArray, content);
    QFETCH(QStringList, expected);
    QCOMPARE(describe(readSubtitleBytes(content, suffix)), expected);
}

void tst_SubtitleReaders::clockTime_data()
{
    QTest::addColumn<QString>("stamp");
    QTest::addColumn<qint64>("expected");
    QTest::newRow("vtt with hours") << "01:02:03.004" << qint64(3723004);
    QTest::newRow("vtt without hours") << "02:03.004" << qint64(123004);
    QTest::newRow("ass centiseconds") << "1:02:03.45" << qint64(3723450);
    QTest::newRow("lrc one decimal") << "00:01.5" << qint64(1500);
    QTest::newRow("no fraction") << "00:07" << qint64(7000);
    QTest::newRow("comma") << "00:00:01,250" << qint64(1250);
    QTest::newRow("metadata") << "ti:Title" << qint64(-1);
    QTest::newRow("negative") << "-1:00.00" << qint64(-1);
    QTest::newRow("no colon") << "12.5" << qint64(-1);
}

void tst_SubtitleReaders::clockTime()
{
    QFETCH(QString, stamp);
    QFETCH(qint64, expected);
    QCOMPARE(clockTimeMs(stamp), expected);
}

void tst_SubtitleReaders::secondSubtitle_data()
{
    QTest::addColumn<QStringList>("files"); // beside "课文 1.mp4"
    QTest::addColumn<QString>("found");
    QTest::addColumn<QByteArray>("second"); // its content, as SRT
    QTest::addColumn<QStringList>("paired");

    const QByteArray threeCues =
        "1\n00:00:00,900 --> 00:00:02,100\n一\n\n2\n00:00:05,000 --> 00:00:05,800\n二a\n\n"
        "3\n00:00:05,700 --> 00:00:06,100\n二b\n\n4\n00:00:20,000 --> 00:00:21,000\n无\n";
    QTest::newRow("zh srt: cues paired by the most overlap")
        << QStringList{"课文 1.zh.srt", "课文 1.srt1"} << "课文 1.zh.srt" << threeCues
        << QStringList{"一", "", "二a\n二b"};
    QTest::newRow("en vtt and a region tag") << QStringList{"课文 1.en-GB.vtt"} << "课文 1.en-GB.vtt"
                                             << threeCues << QStringList{"一", "", "二a\n二b"};
    QTest::newRow("not a language tag") << QStringList{"课文 1.backup.srt", "课文 1.zh.txt", "课文 2.zh.srt"}
                                        << "" << QByteArray() << QStringList{"", "", ""};
}

// Sentences 1-2 s, 3-4 s and 5-6 s of the lesson and a second subtitle beside it.
void tst_SubtitleReaders::secondSubtitle()
{
    QFETCH(QStringList, files);
    QFETCH(QString, found);
    QFETCH(QByteArray, second);
    QFETCH(QStringList, paired);
    QTemporaryDir lessonDir;
    for (const QString &name : files)
        QVERIFY(writeFile(lessonDir.filePath(name), "WEBVTT\n\n" + second));
    const QString chosen = findSecondSubtitle(lessonDir.filePath("课文 1.mp4"));
    QCOMPARE(QFileInfo(chosen).fileName(), found);
    const QList<SubtitleItem> sentences =
        parseSrtBytes("1\n00:00:01,000 --> 00:00:02,000\nA\n\n2\n00:00:03,000 --> "
                      "00:00:04,000\nB\n\n3\n00:00:05,000 --> 00:00:06,000\nC\n");
    const QList<SubtitleItem> secondItems =
        chosen.isEmpty() ? QList<SubtitleItem>() : readSubtitleFile(chosen);
    QCOMPARE(pairByOverlap(sentences, secondItems), paired);
}

// orviloop-srtdump prints the sentences of a media file's track as it does an SRT's.
void tst_SubtitleReaders::dumpToolReadsATrack()
{
    const QString tool = QDir(qEnvironmentVariable("ORVILOOP_BUILD_DIR")).filePath("orviloop-srtdump");
    const QString mkv = dir.filePath("dump.mkv");
    const QString vtt = dir.filePath("dump.vtt");
    QVERIFY(runFfmpeg({"-i", srtPath, "-c:s", "ass", mkv}));
    QVERIFY(runFfmpeg({"-i", srtPath, vtt}));
    QProcess dump;
    dump.start(tool, {mkv, vtt});
    QVERIFY(dump.waitForFinished());
    QCOMPARE(dump.exitCode(), 0);
    const QList<QByteArray> lines = dump.readAllStandardOutput().trimmed().split('\n');
    QCOMPARE(lines.size(), 2 * parseSrtBytes(lessonSrt).size());
    QCOMPARE(lines.first(),
             QByteArray("{\"index\":0,\"startMs\":1000,\"endMs\":2500,\"text\":\"Hello world\"}"));
}

QTEST_GUILESS_MAIN(tst_SubtitleReaders)
#include "tst_subtitlereaders.moc"
