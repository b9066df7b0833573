// The export's argument lists, names and formats, and the MP3 measurement that places each
// sentence in the joined MP3, checked against what ffmpeg itself reports.

#include "export/exportcommands.h"

#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

using namespace ExportCommands;

namespace {

QString runAndRead(const QString &program, const QStringList &arguments)
{
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(program, arguments);
    process.waitForFinished(-1);
    return QString::fromUtf8(process.readAll());
}

double ffprobeDuration(const QString &path)
{
    return runAndRead("ffprobe", {"-v", "error", "-show_entries", "format=duration", "-of",
                                  "default=noprint_wrappers=1:nokey=1", path})
        .trimmed()
        .toDouble();
}

Mp3Timing timing(qint64 frames, int delay, int padding)
{
    Mp3Timing t;
    t.valid = true;
    t.frames = frames;
    t.samplesPerFrame = 1152;
    t.sampleRate = 44100;
    t.encoderDelay = delay;
    t.encoderPadding = padding;
    t.hasEncoderTag = true;
    return t;
}

} // namespace

class tst_ExportCommands : public QObject
{
    Q_OBJECT

private slots:
    void clipArgumentsFollowTheSentence_data();
    void clipArgumentsFollowTheSentence();
    void clipFileNamesHaveFixedWidth_data();
    void clipFileNamesHaveFixedWidth();
    void concatArgumentsUseStreamCopy();
    void concatListLineQuotesEveryPath_data();
    void concatListLineQuotesEveryPath();
    void lrcTimeTagTruncates_data();
    void lrcTimeTagTruncates();
    void exportPathsLieBesideTheMedia_data();
    void exportPathsLieBesideTheMedia();
    void sentencesWithoutLengthAreNotExportable_data();
    void sentencesWithoutLengthAreNotExportable();
    void measureMatchesFfprobe_data();
    void measureMatchesFfprobe();
    void measureRejectsWhatIsNoMp3_data();
    void measureRejectsWhatIsNoMp3();
    void joinedStartsAddUpWholeClips();
    void sentencesWithoutClipTakeTheNextClip_data();
    void sentencesWithoutClipTakeTheNextClip();
};

void tst_ExportCommands::clipArgumentsFollowTheSentence_data()
{
    QTest::addColumn<qint64>("startMs");
    QTest::addColumn<qint64>("endMs");
    QTest::addColumn<QString>("source");
    QTest::addColumn<QString>("start");
    QTest::addColumn<QString>("duration");
    QTest::newRow("position 3 example") << qint64(1000) << qint64(3500) << "D:/videos/Lesson 1.mp4"
                                        << "1.000"
                                        << "2.500";
    QTest::newRow("milliseconds kept") << qint64(12340) << qint64(12341) << "/m/a.mp3"
                                       << "12.340"
                                       << "0.001";
    QTest::newRow("spaces and Chinese, one argument")
        << qint64(0) << qint64(65250) << "/tmp/我的 课程/第 1 课.mkv"
        << "0.000"
        << "65.250";
    QTest::newRow("beyond a day") << qint64(90000000) << qint64(90002000) << "/m/long.wav"
                                  << "90000.000"
                                  << "2.000";
}

void tst_ExportCommands::clipArgumentsFollowTheSentence()
{
    QFETCH(qint64, startMs);
    QFETCH(qint64, endMs);
    QFETCH(QString, source);
    QFETCH(QString, start);
    QFETCH(QString, duration);
    const QString output = "/x/mp3_temp/000003.mp3";
    const QStringList expected = {"-y",      "-ss",        start, "-t",    duration,
                                  "-i",      source,       "-vn", "-af",   "loudnorm=I=-16:TP=-1.5:LRA=11",
                                  "-acodec", "libmp3lame", "-ar", "44100", "-ac",
                                  "2",       output};
    const QStringList arguments = clipArguments(startMs, endMs, source, output);
    QCOMPARE(arguments.size(), 17);
    QCOMPARE(arguments, expected);
}

void tst_ExportCommands::clipFileNamesHaveFixedWidth_data()
{
    QTest::addColumn<int>("position");
    QTest::addColumn<QString>("name");
    QTest::newRow("first") << 0 << "000000.mp3";
    QTest::newRow("41") << 41 << "000041.mp3";
    QTest::newRow("six digits") << 999999 << "999999.mp3";
    QTest::newRow("seven digits") << 1000000 << "1000000.mp3";
}

void tst_ExportCommands::clipFileNamesHaveFixedWidth()
{
    QFETCH(int, position);
    QFETCH(QString, name);
    QCOMPARE(clipFileName(position), name);
    QCOMPARE(clipPath("/a/b/mp3_temp", position), "/a/b/mp3_temp/" + name);
}

void tst_ExportCommands::concatArgumentsUseStreamCopy()
{
    const QStringList expected = {"-y",
                                  "-f",
                                  "concat",
                                  "-safe",
                                  "0",
                                  "-i",
                                  "/d/mp3_temp/list.txt",
                                  "-c",
                                  "copy",
                                  "/d/mp3_output/第1课.mp3"};
    QCOMPARE(concatArguments("/d/mp3_temp/list.txt", "/d/mp3_output/第1课.mp3"), expected);
}

void tst_ExportCommands::concatListLineQuotesEveryPath_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("line");
    QTest::newRow("plain") << "/d/mp3_temp/000000.mp3"
                           << "file '/d/mp3_temp/000000.mp3'\n";
    QTest::newRow("spaces and Chinese") << "/d/我的 课/mp3_temp/000001.mp3"
                                        << "file '/d/我的 课/mp3_temp/000001.mp3'\n";
    QTest::newRow("single quote") << "/d/Tom's/mp3_temp/000002.mp3"
                                  << "file '/d/Tom'\\''s/mp3_temp/000002.mp3'\n";
    QTest::newRow("two quotes") << "/d/'a'/x.mp3"
                                << "file '/d/'\\''a'\\''/x.mp3'\n";
}

void tst_ExportCommands::concatListLineQuotesEveryPath()
{
    QFETCH(QString, path);
    QFETCH(QString, line);
    QCOMPARE(concatListLine(path), line);
}

void tst_ExportCommands::lrcTimeTagTruncates_data()
{
    QTest::addColumn<double>("seconds");
    QTest::addColumn<QString>("tag");
    QTest::newRow("zero") << 0.0 << "[00:00.00]";
    QTest::newRow("2.5 s") << 2.5 << "[00:02.50]";
    QTest::newRow("65.25 s") << 65.25 << "[01:05.25]";
    QTest::newRow("1.15 held below 1.15") << 1.15 << "[00:01.14]";
    QTest::newRow("hundredths truncated") << 59.999 << "[00:59.99]";
    QTest::newRow("three-digit minutes") << 6000.0 << "[100:00.00]";
}

void tst_ExportCommands::lrcTimeTagTruncates()
{
    QFETCH(double, seconds);
    QFETCH(QString, tag);
    QCOMPARE(lrcTimeTag(seconds), tag);
}

void tst_ExportCommands::exportPathsLieBesideTheMedia_data()
{
    QTest::addColumn<QString>("media");
    QTest::addColumn<QString>("subtitle");
    QTest::addColumn<QString>("clipDir");
    QTest::addColumn<QString>("lrc");
    QTest::addColumn<QString>("mp3");
    QTest::newRow("spaces") << "/v/Lesson 1.mp4"
                            << "/v/Lesson 1.srt1"
                            << "/v/mp3_temp"
                            << "/v/mp3_output/Lesson 1.lrc"
                            << "/v/mp3_output/Lesson 1.mp3";
    QTest::newRow("several dots") << "/v/a.b.mp4"
                                  << "/v/a.b.srt1"
                                  << "/v/mp3_temp"
                                  << "/v/mp3_output/a.b.lrc"
                                  << "/v/mp3_output/a.b.mp3";
    QTest::newRow("utf8") << "/视频/第一课.mkv"
                          << "/视频/第一课.srt1"
                          << "/视频/mp3_temp"
                          << "/视频/mp3_output/第一课.lrc"
                          << "/视频/mp3_output/第一课.mp3";
}

void tst_ExportCommands::exportPathsLieBesideTheMedia()
{
    QFETCH(QString, media);
    const ExportPaths paths = exportPaths(media);
    QTEST(paths.subtitlePath, "subtitle");
    QTEST(paths.clipDir, "clipDir");
    QTEST(paths.lrcPath, "lrc");
    QTEST(paths.mp3Path, "mp3");
}

void tst_ExportCommands::sentencesWithoutLengthAreNotExportable_data()
{
    QTest::addColumn<QList<SubtitleItem>>("items");
    QTest::addColumn<bool>("exportable");
    QTest::newRow("none") << QList<SubtitleItem>{} << false;
    QTest::newRow("zero length only")
        << QList<SubtitleItem>{{0, 2000, 2000, "a"}, {1, 3000, 2500, "b"}} << false;
    QTest::newRow("one with length") << QList<SubtitleItem>{{0, 2000, 2000, "a"}, {1, 3000, 3001, "b"}}
                                     << true;
}

void tst_ExportCommands::sentencesWithoutLengthAreNotExportable()
{
    QFETCH(QList<SubtitleItem>, items);
    QTEST(hasExportableSentences(items), "exportable");
}

void tst_ExportCommands::measureMatchesFfprobe_data()
{
    QTest::addColumn<double>("seconds");
    QTest::addColumn<QStringList>("encoding");
    QTest::newRow("2 s stereo 44.1 kHz") << 2.0 << QStringList{"-ar", "44100", "-ac", "2"};
    QTest::newRow("0.37 s mono 44.1 kHz") << 0.37 << QStringList{"-ar", "44100", "-ac", "1"};
    QTest::newRow("1.5 s MPEG-2 22.05 kHz") << 1.5 << QStringList{"-ar", "22050", "-ac", "2"};
    QTest::newRow("3 s variable bitrate") << 3.0 << QStringList{"-ar", "44100", "-ac", "2", "-q:a", "4"};
}

void tst_ExportCommands::measureMatchesFfprobe()
{
    QFETCH(double, seconds);
    QFETCH(QStringList, encoding);
    QTemporaryDir dir;
    const QString path = dir.filePath("音 调.mp3");
    QStringList arguments = {"-v",
                             "error",
                             "-y",
                             "-f",
                             "lavfi",
                             "-i",
                             QString("sine=frequency=500:duration=%1").arg(seconds),
                             "-acodec",
                             "libmp3lame"};
    arguments << encoding << path;
    QCOMPARE(QProcess::execute("ffmpeg", arguments), 0);

    const Mp3Timing measured = measureMp3File(path);
    QVERIFY(measured.valid);
    QVERIFY(measured.hasEncoderTag);
    QCOMPARE(measured.sampleRate, encoding.at(1).toInt());
    // ffmpeg counts every audio frame, priming included, as the file's duration.
    QVERIFY2(qAbs(measured.frameSeconds() - ffprobeDuration(path)) < 0.001,
             qPrintable(QString::number(measured.frameSeconds())));
    // Priming and padding taken off, the encoded tone is exactly as long as it was made.
    QVERIFY2(qAbs(measured.playableSeconds() - seconds) < 0.001,
             qPrintable(QString::number(measured.playableSeconds())));
}

void tst_ExportCommands::measureRejectsWhatIsNoMp3_data()
{
    QTest::addColumn<QByteArray>("data");
    QTest::newRow("empty") << QByteArray();
    QTest::newRow("text") << QByteArray("file '/a/b.mp3'\n");
    QTest::newRow("ID3 tag only") << QByteArray("ID3\x04\x00\x00\x00\x00\x00\x05"
                                                "abcde",
                                                15);
}

void tst_ExportCommands::measureRejectsWhatIsNoMp3()
{
    QFETCH(QByteArray, data);
    QVERIFY(!measureMp3(data).valid);
}

void tst_ExportCommands::joinedStartsAddUpWholeClips()
{
    // 78 frames is the clip of a 2.000 s cue; 40 of them must not be placed 80 s apart in total.
    const QList<Mp3Timing> clips(40, timing(78, 576, 1080));
    const QList<double> starts = joinedClipStarts(clips);
    QCOMPARE(starts.size(), 40);
    QCOMPARE(starts.first(), 0.0);
    QVERIFY(qAbs(starts.at(39) - 39 * 78 * 1152 / 44100.0) < 1e-9);
    QVERIFY(qAbs(joinedSeconds(clips) - (starts.at(39) + 2.0)) < 1e-9);
}

void tst_ExportCommands::sentencesWithoutClipTakeTheNextClip_data()
{
    QTest::addColumn<int>("itemCount");
    QTest::addColumn<QStringList>("clipNames");
    QTest::addColumn<QList<double>>("expected");
    const QList<double> starts = {0.0, 2.0, 5.0};
    QTest::newRow("every sentence has its clip")
        << 3 << QStringList{"000000.mp3", "000001.mp3", "000002.mp3"} << QList<double>{0.0, 2.0, 5.0};
    QTest::newRow("gap takes the next clip")
        << 4 << QStringList{"000000.mp3", "000002.mp3", "000003.mp3"} << QList<double>{0.0, 2.0, 2.0, 5.0};
    QTest::newRow("last sentences without clip take the end")
        << 5 << QStringList{"000000.mp3", "000001.mp3", "000002.mp3"}
        << QList<double>{0.0, 2.0, 5.0, 7.0, 7.0};
    QTest::newRow("leftover clip shifts the later ones")
        << 2 << QStringList{"000000.mp3", "000000_old.mp3", "000001.mp3"} << QList<double>{0.0, 5.0};
}

void tst_ExportCommands::sentencesWithoutClipTakeTheNextClip()
{
    QFETCH(int, itemCount);
    QFETCH(QStringList, clipNames);
    QFETCH(QList<double>, expected);
    QCOMPARE(lrcLineTimes(itemCount, clipNames, {0.0, 2.0, 5.0}, 7.0), expected);
}

QTEST_GUILESS_MAIN(tst_ExportCommands)
#include "tst_exportcommands.moc"
