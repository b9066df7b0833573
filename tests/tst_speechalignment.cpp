// Sentence times moved onto the speech: spoken lessons made from espeak-ng sentences whose true
// onsets and ends are known from the parts, with a subtitle off by 120–300 ms at every edge,
// aligned by orviloop-align and by the player's keys.

#include "core/align/sentencealignment.h"
#include "core/align/speechanalysistask.h"
#include "lessonmedia.h"
#include "playerwindowtest.h"
#include "core/subtitles/srtparser.h"
#include "testsupport.h"

#include "ui_playerwindow.h"

#include <QProgressBar>
#include <QRandomGenerator>
#include <QSignalSpy>
#include <QTest>
#include <QtEndian>

#include <random>

#include <unistd.h>

namespace {

using SpanMs = QPair<qint64, qint64>;

constexpr int lessonRate = 22050; // espeak-ng's own rate

const QStringList sentenceTexts{
    "She sells sea shells by the sea shore.",
    "Five fat friars fried fish on Friday.",
    "Well, I think that is not quite right.",
    "The quick brown fox jumps over the lazy dog.",
    "Please pass the salt.",
    "Thanks a lot, see you tomorrow at six.",
    "How much wood would a woodchuck chuck?",
    "Stop!",
};

// A lesson and where its speech really is.
struct SpokenLesson
{
    QString media;
    QString subtitle; // as written, base name + ".srt"
    QByteArray subtitleBytes;
    QList<qint64> onsets;
    QList<qint64> offsets;
};

QList<qint16> spokenSamples(const QString &text, const QString &voice)
{
    QProcess espeak;
    espeak.start("espeak-ng", {"-v", voice, "--stdout", text});
    espeak.waitForFinished(30000);
    const QByteArray wav = espeak.readAllStandardOutput();
    const qsizetype data = wav.indexOf("data");
    QList<qint16> samples;
    if (data < 0)
        return samples;
    for (qsizetype at = data + 8; at + 1 < wav.size(); at += 2)
        samples.append(qFromLittleEndian<qint16>(wav.constData() + at));
    return samples;
}

// Where a part's own speech begins and ends: its first and last sample above -40 dBFS.
QPair<qsizetype, qsizetype> speechBounds(const QList<qint16> &samples)
{
    const auto loud = [](qint16 x) { return std::abs(int(x)) > 328; };
    const auto first = std::find_if(samples.begin(), samples.end(), loud);
    const auto last = std::find_if(samples.rbegin(), samples.rend(), loud);
    return {first - samples.begin(), samples.rend() - last};
}

QByteArray wavFile(const QList<qint16> &samples)
{
    QByteArray header("RIFF\0\0\0\0WAVEfmt \x10\0\0\0\x01\0\x01\0\0\0\0\0\0\0\0\0\x02\0\x10\0data\0\0\0\0",
                      44);
    const auto put = [&header](int at, quint32 value) { qToLittleEndian(value, header.data() + at); };
    put(4, quint32(36 + samples.size() * 2));
    put(24, lessonRate);
    put(28, lessonRate * 2);
    put(40, quint32(samples.size() * 2));
    QByteArray body(samples.size() * 2, Qt::Uninitialized);
    for (qsizetype i = 0; i < samples.size(); ++i)
        qToLittleEndian(samples.at(i), body.data() + 2 * i);
    return header + body;
}

qint64 msOf(qsizetype sample)
{
    return qint64(sample) * 1000 / lessonRate;
}

// The sentences joined by pauses of 0.7–1.2 s over white noise at noiseDb, in the container
// media's suffix names, and a subtitle whose every edge is 120–300 ms off, early or late.
SpokenLesson makeSpokenLesson(const QString &media, const QString &voice, double noiseDb, int count,
                              quint32 seed)
{
    QRandomGenerator random(seed);
    SpokenLesson lesson;
    lesson.media = media;
    QList<qint16> samples(lessonRate, 0);
    for (int k = 0; k < count; ++k) {
        const QList<qint16> part = spokenSamples(sentenceTexts.at(k % sentenceTexts.size()), voice);
        const auto [first, last] = speechBounds(part);
        lesson.onsets.append(msOf(samples.size() + first));
        lesson.offsets.append(msOf(samples.size() + last));
        samples.append(part);
        samples.append(QList<qint16>(lessonRate * random.bounded(700, 1201) / 1000, 0));
    }
    std::mt19937 noiseRandom(seed);
    std::normal_distribution<double> noise(0.0, 32768.0 * std::pow(10.0, noiseDb / 20.0));
    for (qint16 &x : samples)
        x = qint16(std::clamp(x + noise(noiseRandom), -32768.0, 32767.0));
    // Other containers are encoded from the WAV: their decoder must give the same timeline.
    const bool wav = media.endsWith(".wav");
    QFile file(wav ? media : media + ".wav");
    if (file.open(QIODevice::WriteOnly))
        file.write(wavFile(samples));
    file.close();
    if (!wav) {
        QProcess::execute("ffmpeg", {"-v", "error", "-y", "-i", file.fileName(), media});
        file.remove();
    }

    const auto off = [&random] { return random.bounded(120, 301) * (random.bounded(2) ? 1 : -1); };
    QList<LessonCue> cues;
    for (int k = 0; k < count; ++k)
        cues.append({lesson.onsets.at(k) + off(), lesson.offsets.at(k) + off()});
    lesson.subtitleBytes = lessonSrt(cues).toUtf8();
    const QFileInfo info(media);
    lesson.subtitle = info.absoluteDir().filePath(info.completeBaseName() + ".srt");
    QFile srt(lesson.subtitle);
    if (srt.open(QIODevice::WriteOnly))
        srt.write(lesson.subtitleBytes);
    return lesson;
}

QByteArray contentsOf(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("(none)");
}

struct ToolRun
{
    int exitCode = -1;
    QString output;
};

// orviloop-align, as the user runs it; as an ordinary user where root would pass any lock.
ToolRun runAlign(const QStringList &arguments, bool asOrdinaryUser = false)
{
    const QString tool = qEnvironmentVariable("ORVILOOP_BUILD_DIR", QCoreApplication::applicationDirPath()) +
                         "/orviloop-align";
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    if (asOrdinaryUser && ::geteuid() == 0)
        process.start("setpriv",
                      QStringList{"--reuid=nobody", "--regid=nogroup", "--clear-groups", tool} + arguments);
    else
        process.start(tool, arguments);
    process.waitForFinished(120000);
    return {process.exitCode(), QString::fromUtf8(process.readAll())};
}

// Worst (most negative, most positive) error of aligned edges against the true ones.
SpanMs errorRange(const QList<qint64> &aligned, const QList<qint64> &truth)
{
    SpanMs range{LLONG_MAX, LLONG_MIN};
    for (qsizetype k = 0; k < truth.size(); ++k) {
        range.first = std::min(range.first, aligned.at(k) - truth.at(k));
        range.second = std::max(range.second, aligned.at(k) - truth.at(k));
    }
    return range;
}

} // namespace

// The alignment's bar sits in the video's scene, not among the window's children.
static QProgressBar *alignBar()
{
    for (QWidget *widget : QApplication::allWidgets())
        if (widget->objectName() == "alignBar")
            return qobject_cast<QProgressBar *>(widget);
    qFatal("no alignment bar");
}

class tst_SpeechAlignment : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void alignsToSpeech_data();
    void alignsToSpeech();
    void edgesWithoutClearSpeech_data();
    void edgesWithoutClearSpeech();
    void badInputLosesNothing_data();
    void badInputLosesNothing();
    void playerAlignsSentenceThenLesson();
    void windowClosedWhileAnalysing();

private:
    QTemporaryDir settingsDir;
    QTemporaryDir dir;
};

void tst_SpeechAlignment::initTestCase()
{
    QVERIFY(settingsDir.isValid() && dir.isValid());
    useTemporarySettings(settingsDir);
    qputenv("XDG_CACHE_HOME", settingsDir.filePath("cache").toUtf8());
    QStandardPaths::setTestModeEnabled(true);
    // Read by the tool run as an ordinary user.
    QFile::setPermissions(dir.path(), QFile::permissions(dir.path()) | QFile::ExeOther | QFile::ReadOther);
}

void tst_SpeechAlignment::alignsToSpeech_data()
{
    QTest::addColumn<QString>("voice");
    QTest::addColumn<QString>("suffix");
    QTest::addColumn<double>("noiseDb");
    // Allowed error of the aligned start and end against the true onset and end, in ms.
    QTest::addColumn<SpanMs>("startWithin");
    QTest::addColumn<SpanMs>("endWithin");
    QTest::addColumn<quint32>("seed");
    const SpanMs quietStart{-250, 10}, quietEnd{-10, 400};
    const SpanMs noisyStart{-300, 30}, noisyEnd{-60, 450};
    QTest::newRow("quiet, faint bed") << "en"
                                      << "wav" << -70.0 << quietStart << quietEnd << 1u;
    QTest::newRow("clean, digital silence") << "en"
                                            << "wav" << -200.0 << quietStart << quietEnd << 5u;
    QTest::newRow("noise at -40 dBFS") << "en"
                                       << "wav" << -40.0 << noisyStart << noisyEnd << 2u;
    QTest::newRow("quiet, other voice, MP3 课") << "en-us+f3"
                                                << "mp3" << -70.0 << quietStart << quietEnd << 3u;
    QTest::newRow("noise, other voice, AAC") << "en-gb-scotland"
                                             << "m4a" << -40.0 << noisyStart << noisyEnd << 4u;
}

// Every edge lands just outside its speech, no sentence overlaps another, the original is kept
// and one undo brings it back byte for byte.
void tst_SpeechAlignment::alignsToSpeech()
{
    QFETCH(QString, voice);
    QFETCH(QString, suffix);
    QFETCH(double, noiseDb);
    QFETCH(SpanMs, startWithin);
    QFETCH(SpanMs, endWithin);
    QFETCH(quint32, seed);
    const int count = sentenceTexts.size();
    const SpokenLesson lesson =
        makeSpokenLesson(dir.filePath(QString("%1 lesson.%2").arg(QTest::currentDataTag(), suffix)), voice,
                         noiseDb, count, seed);
    QCOMPARE(lesson.onsets.size(), count);

    const ToolRun run = runAlign({lesson.media});
    QVERIFY2(run.exitCode == 0, qPrintable(run.output));
    QVERIFY2(run.output.contains(QString("%1 句中移动了 %1 句").arg(count)), qPrintable(run.output));
    // Kept for the next time, under the program's cache.
    const QDir cache(settingsDir.filePath("cache/Orvi/OrviLoop/speech"));
    QVERIFY(!cache.entryList({"*.speech"}).isEmpty());
    const QString adopted = lesson.subtitle + "1";
    const QList<SubtitleItem> aligned = parseSrtFile(adopted);
    QCOMPARE(aligned.size(), count);

    QList<qint64> starts, ends;
    for (const SubtitleItem &sentence : aligned) {
        starts.append(sentence.startMs);
        ends.append(sentence.endMs);
    }
    const SpanMs startError = errorRange(starts, lesson.onsets);
    const SpanMs endError = errorRange(ends, lesson.offsets);
    qInfo("%s: start error %lld … %lld ms, end error %lld … %lld ms", QTest::currentDataTag(),
          startError.first, startError.second, endError.first, endError.second);
    QVERIFY2(startError.first >= startWithin.first && startError.second <= startWithin.second,
             qPrintable(run.output));
    QVERIFY2(endError.first >= endWithin.first && endError.second <= endWithin.second,
             qPrintable(run.output));
    for (int k = 0; k + 1 < count; ++k)
        QVERIFY(aligned.at(k).endMs <= aligned.at(k + 1).startMs);

    QCOMPARE(contentsOf(adopted + ".orig"), lesson.subtitleBytes);
    QCOMPARE(runAlign({"--undo", lesson.media}).exitCode, 0);
    QCOMPARE(contentsOf(adopted), lesson.subtitleBytes);
}

using Segments = QList<SpeechSegment>;

void tst_SpeechAlignment::edgesWithoutClearSpeech_data()
{
    QTest::addColumn<Segments>("speech");
    QTest::addColumn<Times>("times");
    QTest::addColumn<Times>("expected");
    QTest::newRow("no speech within reach: stays")
        << Segments{{5000, 6000}} << Times{{1000, 2000}} << Times{{1000, 2000}};
    QTest::newRow("onset out of reach, a word gap later: stays")
        << Segments{{300, 1200}, {1400, 3000}} << Times{{1000, 3100}} << Times{{1000, 3220}};
    QTest::newRow("the sentence pause wins over a word gap")
        << Segments{{1000, 1500}, {1700, 2500}, {3500, 4500}} << Times{{1250, 2700}, {3300, 4600}}
        << Times{{860, 2720}, {3360, 4720}};
    QTest::newRow("a short pause is shared, never crossed")
        << Segments{{1000, 2000}, {2100, 3000}} << Times{{1000, 1800}, {2300, 3000}}
        << Times{{860, 2050}, {2050, 3220}};
}

// Where the speech gives no clear edge the time stays; margins stop half-way into a pause.
void tst_SpeechAlignment::edgesWithoutClearSpeech()
{
    QFETCH(Segments, speech);
    QFETCH(Times, times);
    QFETCH(Times, expected);
    const SentenceAlignment aligned = alignToSpeech(speech, 10000, lessonOf(times));
    QCOMPARE(aligned.sentences, lessonOf(expected));
}

void tst_SpeechAlignment::badInputLosesNothing_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("message");
    QTest::newRow("lesson without sound") << "silent video"
                                          << "没有声音";
    QTest::newRow("not media") << "garbage"
                               << "无法读取媒体文件的声音";
    QTest::newRow("read-only folder") << "read-only"
                                      << "无法写入字幕文件";
}

// A clear message, a failed exit, and the subtitle as it was.
void tst_SpeechAlignment::badInputLosesNothing()
{
    QFETCH(QString, kind);
    QFETCH(QString, message);
    const QString folder = dir.filePath(QString("坏 %1").arg(kind));
    QVERIFY(QDir().mkpath(folder));
    QString media = folder + "/lesson.wav";
    QByteArray subtitle = lessonSrt({{1000, 2000}, {3000, 4000}}).toUtf8();
    if (kind == "silent video") {
        media = folder + "/lesson.mp4";
        QCOMPARE(
            QProcess::execute("ffmpeg", {"-v", "error", "-y", "-f", "lavfi", "-i", "testsrc=size=64x48:d=5",
                                         "-an", "-c:v", "libx264", "-preset", "ultrafast", media}),
            0);
    } else if (kind == "garbage") {
        QFile file(media);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(QByteArray(20000, 'x'));
    } else {
        subtitle = makeSpokenLesson(media, "en", -70.0, 2, 7).subtitleBytes;
        QFile::remove(folder + "/lesson.srt");
    }
    const QString srt1 = folder + "/lesson.srt1";
    QFile file(srt1);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(subtitle);
    file.close();
    const bool readOnly = kind == "read-only";
    if (readOnly)
        QVERIFY(QFile::setPermissions(folder, QFile::ReadOwner | QFile::ExeOwner | QFile::ReadOther |
                                                  QFile::ExeOther | QFile::ReadGroup | QFile::ExeGroup));

    const ToolRun run = runAlign({media}, readOnly);
    QFile::setPermissions(folder, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    QCOMPARE(run.exitCode, 1);
    QVERIFY2(run.output.contains(message), qPrintable(run.output));
    QCOMPARE(contentsOf(srt1), subtitle);
    QVERIFY(!QFile::exists(srt1 + ".orig"));
}

// A for the current sentence moves it alone; Shift+A then moves the others. Both write the
// file as the timing keys do, and the count shows over the video.
void tst_SpeechAlignment::playerAlignsSentenceThenLesson()
{
    const SpokenLesson lesson = makeSpokenLesson(dir.filePath("player lesson.wav"), "en", -70.0, 4, 11);
    const QString srt1 = lesson.subtitle + "1";
    QVERIFY(QFile::rename(lesson.subtitle, srt1));
    const QList<SubtitleItem> before = parseSrtFile(srt1);
    auto w = PlayerWindowTest::open(before, 1);
    w->setLessonFile(lesson.media);
    w->setSubtitleFile(srt1);
    PlayerWindowTest::goTo(*w, 2);
    QSignalSpy progress(w->speechAlignment(), &SpeechAnalysisTask::progress);

    QTest::keyClick(w.get(), Qt::Key_A);
    QVERIFY(!childNamed<QPushButton>(*w, "btnAlignLesson")->isEnabled());
    QTRY_VERIFY_WITH_TIMEOUT(childNamed<QPushButton>(*w, "btnAlignLesson")->isEnabled(), 30000);
    QVERIFY(!progress.isEmpty());
    QCOMPARE(alignBar()->format(), QString("本句已对齐"));
    for (int k : {0, 1, 3})
        QCOMPARE(w->repeatSession()->sentences().at(k), before.at(k));
    QVERIFY(w->repeatSession()->sentences().at(2).startMs <= lesson.onsets.at(2));
    QVERIFY(w->repeatSession()->sentences().at(2).endMs >= lesson.offsets.at(2));
    QCOMPARE(parseSrtFile(srt1), w->repeatSession()->sentences());

    QTest::keyClick(w.get(), Qt::Key_A, Qt::ShiftModifier);
    QTRY_VERIFY_WITH_TIMEOUT(childNamed<QPushButton>(*w, "btnAlignLesson")->isEnabled(), 30000);
    QCOMPARE(alignBar()->format(), QString("已对齐 3 / 4 句"));
    QCOMPARE(parseSrtFile(srt1), w->repeatSession()->sentences());
    QCOMPARE(contentsOf(srt1 + ".orig"), lesson.subtitleBytes);
}

// The analysis of a long lesson stops with its window; nothing is written.
void tst_SpeechAlignment::windowClosedWhileAnalysing()
{
    const QString media = dir.filePath("long lesson.wav");
    QVERIFY(makeSilence(media, 1200));
    const QString srt1 = dir.filePath("long lesson.srt1");
    QFile file(srt1);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(lessonSrt({{1000, 2000}, {3000, 4000}}).toUtf8());
    file.close();
    auto w = PlayerWindowTest::open(parseSrtFile(srt1), 1);
    w->setLessonFile(media);
    w->setSubtitleFile(srt1);
    QTest::keyClick(w.get(), Qt::Key_A, Qt::ShiftModifier);
    QVERIFY(w->speechAlignment()->isRunning());
    w.reset();
    QTest::qWait(500);
    QVERIFY(!QFile::exists(srt1 + ".orig"));
}

QTEST_MAIN(tst_SpeechAlignment)
#include "tst_speechalignment.moc"
