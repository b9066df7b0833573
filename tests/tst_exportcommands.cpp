// The export's argument lists, names and formats.

#include "core/export/exportcommands.h"

#include <QTest>

using namespace ExportCommands;

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
    void lrcTextTagsEachSentence_data();
    void lrcTextTagsEachSentence();
    void exportPathsLieBesideTheMedia_data();
    void exportPathsLieBesideTheMedia();
    void sentencesWithoutLengthAreNotExportable_data();
    void sentencesWithoutLengthAreNotExportable();
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

void tst_ExportCommands::lrcTextTagsEachSentence_data()
{
    QTest::addColumn<QList<SubtitleItem>>("items");
    QTest::addColumn<QList<double>>("times");
    QTest::addColumn<QString>("text");
    QTest::newRow("two-line text: second line untagged")
        << QList<SubtitleItem>{{0, 0, 1000, "Hello\nworld"}, {1, 1000, 2000, "你好"}}
        << QList<double>{0.0, 1.044} << "[00:00.00]Hello\nworld\n[00:01.04]你好\n";
    QTest::newRow("no sentence: empty") << QList<SubtitleItem>{} << QList<double>{} << "";
}

void tst_ExportCommands::lrcTextTagsEachSentence()
{
    QFETCH(QList<SubtitleItem>, items);
    QFETCH(QList<double>, times);
    QTEST(lrcText(items, times), "text");
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
    QTest::addColumn<QList<int>>("positions");
    QTest::newRow("none") << QList<SubtitleItem>{} << false << QList<int>{};
    QTest::newRow("zero length only")
        << QList<SubtitleItem>{{0, 2000, 2000, "a"}, {1, 3000, 2500, "b"}} << false << QList<int>{};
    QTest::newRow("one with length") << QList<SubtitleItem>{{0, 2000, 2000, "a"}, {1, 3000, 3001, "b"}}
                                     << true << QList<int>{1};
    QTest::newRow("gap keeps the positions")
        << QList<SubtitleItem>{{0, 0, 1, "a"}, {1, 5, 5, "b"}, {2, 6, 9, "c"}} << true << QList<int>{0, 2};
}

void tst_ExportCommands::sentencesWithoutLengthAreNotExportable()
{
    QFETCH(QList<SubtitleItem>, items);
    QTEST(hasExportableSentences(items), "exportable");
    QTEST(clipPositions(items), "positions");
}

QTEST_GUILESS_MAIN(tst_ExportCommands)
#include "tst_exportcommands.moc"
