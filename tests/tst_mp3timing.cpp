// The MP3 frame measurement that places each sentence in the joined MP3, checked against
// what ffmpeg itself reports, and the LRC times taken from it.

#include "lessonmedia.h"

#include "core/export/exportcommands.h"
#include "core/export/mp3timing.h"

#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

using ExportCommands::lrcTimeTag;

namespace {

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

class tst_Mp3Timing : public QObject
{
    Q_OBJECT

private slots:
    void measureMatchesFfprobe_data();
    void measureMatchesFfprobe();
    void measureRejectsWhatIsNoMp3_data();
    void measureRejectsWhatIsNoMp3();
    void joinedStartsAddUpWholeClips();
    void sentencesWithoutClipTakeTheNextClip_data();
    void sentencesWithoutClipTakeTheNextClip();
    void hundredMinutesBeforeASentence();
};

void tst_Mp3Timing::measureMatchesFfprobe_data()
{
    QTest::addColumn<double>("seconds");
    QTest::addColumn<QStringList>("encoding");
    QTest::newRow("2 s stereo 44.1 kHz") << 2.0 << QStringList{"-ar", "44100", "-ac", "2"};
    QTest::newRow("0.37 s mono 44.1 kHz") << 0.37 << QStringList{"-ar", "44100", "-ac", "1"};
    QTest::newRow("1.5 s MPEG-2 22.05 kHz") << 1.5 << QStringList{"-ar", "22050", "-ac", "2"};
    QTest::newRow("3 s variable bitrate") << 3.0 << QStringList{"-ar", "44100", "-ac", "2", "-q:a", "4"};
}

void tst_Mp3Timing::measureMatchesFfprobe()
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

void tst_Mp3Timing::measureRejectsWhatIsNoMp3_data()
{
    QTest::addColumn<QByteArray>("data");
    QTest::newRow("empty") << QByteArray();
    QTest::newRow("text") << QByteArray("file '/a/b.mp3'\n");
    QTest::newRow("ID3 tag only") << QByteArray("ID3\x04\x00\x00\x00\x00\x00\x05"
                                                "abcde",
                                                15);
}

void tst_Mp3Timing::measureRejectsWhatIsNoMp3()
{
    QFETCH(QByteArray, data);
    QVERIFY(!measureMp3(data).valid);
}

void tst_Mp3Timing::joinedStartsAddUpWholeClips()
{
    // 78 frames is the clip of a 2.000 s cue; 40 of them must not be placed 80 s apart in total.
    const QList<Mp3Timing> clips(40, timing(78, 576, 1080));
    const QList<double> starts = joinedClipStarts(clips);
    QCOMPARE(starts.size(), 40);
    QCOMPARE(starts.first(), 0.0);
    QVERIFY(qAbs(starts.at(39) - 39 * 78 * 1152 / 44100.0) < 1e-9);
    QVERIFY(qAbs(joinedSeconds(clips) - (starts.at(39) + 2.0)) < 1e-9);
}

void tst_Mp3Timing::sentencesWithoutClipTakeTheNextClip_data()
{
    QTest::addColumn<int>("itemCount");
    QTest::addColumn<QList<int>>("positions");
    QTest::addColumn<QList<double>>("expected");
    QTest::newRow("every sentence has its clip") << 3 << QList<int>{0, 1, 2} << QList<double>{0.0, 2.0, 5.0};
    QTest::newRow("gap takes the next clip") << 4 << QList<int>{0, 2, 3} << QList<double>{0.0, 2.0, 2.0, 5.0};
    QTest::newRow("first sentence without clip takes the first")
        << 4 << QList<int>{1, 2, 3} << QList<double>{0.0, 0.0, 2.0, 5.0};
    QTest::newRow("last sentences without clip take the end")
        << 5 << QList<int>{0, 1, 2} << QList<double>{0.0, 2.0, 5.0, 7.0, 7.0};
}

void tst_Mp3Timing::sentencesWithoutClipTakeTheNextClip()
{
    QFETCH(int, itemCount);
    QFETCH(QList<int>, positions);
    QFETCH(QList<double>, expected);
    QCOMPARE(lrcLineTimes(itemCount, positions, {0.0, 2.0, 5.0}, 7.0), expected);
}

void tst_Mp3Timing::hundredMinutesBeforeASentence()
{
    // A first clip of 100 minutes, cheaply encoded as silence at the lowest rate.
    QTemporaryDir dir;
    const QString path = dir.filePath("long.mp3");
    QCOMPARE(QProcess::execute("ffmpeg", {"-v", "error", "-y", "-f", "lavfi", "-i", "anullsrc=r=8000:cl=mono",
                                          "-t", "6000", "-acodec", "libmp3lame", "-b:a", "8k", path}),
             0);
    const Mp3Timing clip = measureMp3File(path);
    const QList<double> times =
        lrcLineTimes(2, {0, 1}, joinedClipStarts({clip, clip}), joinedSeconds({clip, clip}));
    QVERIFY2(lrcTimeTag(times.at(1)).startsWith("[100:00."), qPrintable(lrcTimeTag(times.at(1))));
}

QTEST_GUILESS_MAIN(tst_Mp3Timing)
#include "tst_mp3timing.moc"
