#include "lessonmedia.h"
#include "gui/player/playerwindow.h"
#include "core/takes/takecomparison.h"
#include "gui/player/takecontourview.h"
#include "gui/player/takecontroller.h"
#include "media/takerecorder.h"
#include "core/takes/takestore.h"
#include "soundanalysis.h"
#include "testsupport.h"

#include "ui_playerwindow.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QSettings>
#include <QTimer>
#include <QProcess>
#include <QSignalSpy>
#include <QTest>

#include <cmath>
#include <cstring>
#include <memory>

// The learner's takes: how a take is compared with the speaker's sentence, how takes are kept,
// and, with a virtual microphone (the sound server's own output), takes recorded in the pauses
// to speak of a real window and heard back before the sentence.

namespace {

const QString sentenceA = "The weather is lovely today, let us go for a walk in the park.";
const QString sentenceB = "Please remember to buy some bread and milk on your way home.";

// Speech by espeak-ng into a WAV file; its options (pitch, speed) given as they are.
bool speak(const QString &path, const QString &text, const QStringList &options)
{
    return QProcess::execute("espeak-ng", QStringList{"-w", path} + options + QStringList{text}) == 0;
}

VoiceTrack trackOf(const QString &path)
{
    const std::optional<QList<qint16>> samples = readComparisonSound(path);
    return samples ? voiceTrack(*samples) : VoiceTrack();
}

double medianPitch(const VoiceTrack &track)
{
    QList<float> voiced;
    for (float hz : track.pitchHz) {
        if (hz > 0)
            voiced << hz;
    }
    std::sort(voiced.begin(), voiced.end());
    return voiced.isEmpty() ? 0 : voiced.at(voiced.size() / 2);
}

double voicedShare(const VoiceTrack &track)
{
    const qsizetype voiced =
        std::count_if(track.pitchHz.begin(), track.pitchHz.end(), [](float hz) { return hz > 0; });
    return track.frames() ? double(voiced) / double(track.frames()) : 0;
}

// Share of 40 ms frames of 16 kHz mono sound in which the lesson's 440 Hz tone carries most of
// the sound, and of frames of other sound (the voice); silence is neither.
struct SoundMix
{
    QByteArray frames; // 't' tone, 'v' other sound, '.' silence
    double share(char kind) const
    {
        return frames.isEmpty() ? 0 : double(frames.count(kind)) / double(frames.size());
    }
};

SoundMix soundMix(const QList<qint16> &samples, int rate = comparisonRate)
{
    const int n = rate / 25;
    SoundMix mix;
    for (qsizetype from = 0; from + n <= samples.size(); from += n) {
        double energy = 0;
        for (int i = 0; i < n; ++i)
            energy += double(samples[from + i]) * samples[from + i];
        // A pure tone gives tonePower = energy * n / 2.
        const double toneShare =
            energy > 0 ? tonePower(samples.constData() + from, n, 440, rate) / (energy * n / 2) : 0;
        const bool quiet = energy / n < 100.0 * 100.0;
        mix.frames.append(quiet ? '.' : toneShare > 0.5 ? 't' : 'v');
    }
    return mix;
}

// What the sound server plays, recorded as long as the recorder lives, as 16 kHz mono.
class SinkRecording
{
public:
    SinkRecording()
    {
        parec.start("parec", {"--device=@DEFAULT_MONITOR@", "--format=s16le", "--rate=16000", "--channels=1",
                              "--latency-msec=20", "--raw"});
    }
    ~SinkRecording()
    {
        parec.kill();
        parec.waitForFinished(3000);
    }
    bool started() { return parec.waitForStarted(5000); }
    QList<qint16> samples()
    {
        pcm += parec.readAllStandardOutput();
        QList<qint16> out(pcm.size() / 2);
        std::memcpy(out.data(), pcm.constData(), size_t(out.size()) * 2);
        return out;
    }

private:
    QProcess parec;
    QByteArray pcm;
};

QString serverDefault(const QString &what, int *exitCode = nullptr)
{
    return runAndRead("pactl", {"info"}, exitCode)
        .section("Default " + what + ": ", 1)
        .section('\n', 0, 0)
        .trimmed();
}

// A microphone that hears what the sound server plays: a source fed by the default output's
// monitor, made the default input (Qt lists no monitor among its inputs). Its module number,
// to unload it afterwards; -1 when there is no sound server.
int loadVirtualMicrophone()
{
    int exitCode = -1;
    const QString sink = serverDefault("Sink", &exitCode);
    if (exitCode != 0 || sink.isEmpty())
        return -1;
    const QString module = runAndRead("pactl",
                                      {"load-module", "module-remap-source", "master=" + sink + ".monitor",
                                       "source_name=orviloop_takes_mic",
                                       "source_properties=device.description=orviloop_takes_mic"},
                                      &exitCode);
    if (exitCode != 0)
        return -1;
    QProcess::execute("pactl", {"set-default-source", "orviloop_takes_mic"});
    return module.trimmed().toInt();
}

} // namespace

class tst_Takes : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void closerTakesScoreHigher_data();
    void closerTakesScoreHigher();
    void storeKeepsTheNewestTen();
    void takesInThePauses();
    void takeHeardThenSentence();
    void cleanupTestCase();

private:
    QTemporaryDir settingsDir;
    QTemporaryDir work;
    std::unique_ptr<PlayerWindow> window;
    int microphoneModule = -1;
    QString sourceBefore;
    QStringList savedTakes;
};

void tst_Takes::initTestCase()
{
    QVERIFY(settingsDir.isValid() && work.isValid());
    useTemporarySettings(settingsDir);
}

// The speaker says sentence A at a low pitch (espeak-ng -p 30: about 84 Hz, -p 99 an octave
// above it); each row holds a take that follows it more closely than another.
const QStringList speakerVoice{"-p", "30"};
const QStringList octaveUp{"-p", "99"};

void tst_Takes::closerTakesScoreHigher_data()
{
    QTest::addColumn<QString>("closerText");
    QTest::addColumn<QStringList>("closerOptions");
    QTest::addColumn<QString>("fartherText");
    QTest::addColumn<QStringList>("fartherOptions");
    const QStringList slower{"-s", "140"};
    const QStringList faster{"-s", "190"};
    QTest::newRow("same pitch, against an octave up")
        << sentenceA << speakerVoice + slower << sentenceA << octaveUp + slower;
    QTest::newRow("same pitch, against another sentence")
        << sentenceA << speakerVoice + slower << sentenceB << speakerVoice + slower;
    QTest::newRow("faster, against another sentence an octave up")
        << sentenceA << speakerVoice + faster << sentenceB << octaveUp + faster;
}

void tst_Takes::closerTakesScoreHigher()
{
    QFETCH(QString, closerText);
    QFETCH(QStringList, closerOptions);
    QFETCH(QString, fartherText);
    QFETCH(QStringList, fartherOptions);
    const QString speaker = work.filePath("speaker.wav");
    const QString closer = work.filePath("closer.wav");
    const QString farther = work.filePath("farther.wav");
    QVERIFY(speak(speaker, sentenceA, speakerVoice));
    QVERIFY(speak(closer, closerText, closerOptions));
    QVERIFY(speak(farther, fartherText, fartherOptions));

    const VoiceTrack speakerTrack = trackOf(speaker);
    QVERIFY2(voicedShare(voicedStretch(speakerTrack)) > 0.3, "espeak-ng's voice is hardly found voiced");
    const TakeComparison near = compareTake(speakerTrack, trackOf(closer));
    const TakeComparison far = compareTake(speakerTrack, trackOf(farther));
    qInfo("speaker %.0f Hz; closer %.0f Hz: score %.1f (contour %.2f, rhythm %.2f, pitch level %.2f); "
          "farther %.0f Hz: score %.1f (contour %.2f, rhythm %.2f, pitch level %.2f)",
          medianPitch(speakerTrack), medianPitch(trackOf(closer)), near.score, near.contour, near.rhythm,
          near.register_, medianPitch(trackOf(farther)), far.score, far.contour, far.rhythm, far.register_);
    QVERIFY(near.isValid() && far.isValid());
    // The take is drawn over the sentence's time.
    QCOMPARE(near.take.frames(), near.speaker.frames());
    QVERIFY(near.score > far.score + 5);
}

// Takes are named with the sentence's number and their time and sort by it; only the newest ten
// of a sentence stay, with their scores, and another sentence's are left alone.
void tst_Takes::storeKeepsTheNewestTen()
{
    const TakeStore store(work.filePath("录音 库"));
    const QString lesson = "/课文/第 1 课 \"听力\".mp4";
    const QDateTime start(QDate(2026, 12, 9), QTime(20, 0));
    QStringList made;
    for (int i = 0; i < 12; ++i) {
        made << store.newTakePath(lesson, 2, start.addSecs(i * 61));
        QFile file(made.last());
        QVERIFY(file.open(QIODevice::WriteOnly));
    }
    const QString otherSentence = store.newTakePath(lesson, 3, start);
    QVERIFY(QFile(otherSentence).open(QIODevice::WriteOnly));
    QVERIFY(made.first().startsWith(store.lessonFolder(lesson)));
    QCOMPARE(TakeStore::sentenceOf(made.first()), 2);
    TakeComparison compared;
    compared.score = 71.25;
    store.saveScore(made.first(), compared);
    store.saveScore(made.last(), compared);

    store.keepNewest(lesson, 2);
    QCOMPARE(store.takes(lesson, 2), made.mid(2));
    QCOMPARE(store.lastTake(lesson, 2), made.last());
    QVERIFY(QFile::exists(otherSentence));
    QCOMPARE(store.score(made.last()), std::optional<double>(71.3));
    QCOMPARE(store.score(made.first()), std::nullopt);
    // Another lesson of the same name elsewhere keeps its takes apart.
    QVERIFY(store.lessonFolder("/其他/第 1 课 \"听力\".mp4") != store.lessonFolder(lesson));
}

// Takes on, 停顿1倍, auto next on a lesson of 2 s sentences (tones), while a voice speaks into
// the virtual microphone all along: a take of the voice in each pause, none while the lesson
// plays.
void tst_Takes::takesInThePauses()
{
    sourceBefore = serverDefault("Source");
    microphoneModule = loadVirtualMicrophone();
    if (microphoneModule < 0)
        QSKIP("no sound server to record from");
    QVERIFY2(TakeRecorder::microphoneProblem().isEmpty(), "the virtual microphone is not listed");
    const QString lessonPath = work.filePath("跟读 lesson.wav");
    QList<LessonCue> cues;
    for (qint64 start = 100; start < 30000; start += 2400)
        cues << LessonCue{start, start + 2000};
    QCOMPARE(writeLesson(lessonPath, cues, 31000), QString());
    const QString voice = work.filePath("voice.wav");
    QVERIFY(speak(voice, QString(sentenceA + " " + sentenceB + " ").repeated(4), {"-p", "60"}));
    {
        QSettings settings("Orvi", "OrviLoop");
        settings.setValue("global/playMode", 2);
        settings.setValue("global/repeatCount", 1);
        settings.setValue("global/shadowPause", 1);
        settings.setValue("global/recordTakes", true);
    }
    QProcess speaker;
    speaker.start("paplay", {voice});
    QVERIFY(speaker.waitForStarted(5000));

    QElapsedTimer clock;
    clock.start();
    window = std::make_unique<PlayerWindow>(nullptr, lessonPath);
    window->show();
    QVERIFY(childNamed<QCheckBox>(*window, "checkRecordTakes")->isChecked());
    QSignalSpy saved(window->takeController(), &TakeController::takeSaved);
    QSignalSpy compared(window->takeController(), &TakeController::takeCompared);
    // Sampled all along: a take is only made while the lesson waits for the learner.
    int recordedWhilePlaying = 0;
    QTimer watch;
    connect(&watch, &QTimer::timeout, this, [&] {
        if (window->takeController()->isRecording() && !window->repeatSession()->speakingPauseActive())
            ++recordedWhilePlaying;
    });
    watch.start(10);
    QTRY_VERIFY_WITH_TIMEOUT(saved.size() >= 2, 14000);
    qInfo("two takes after %lld ms", clock.elapsed());
    QTRY_VERIFY_WITH_TIMEOUT(compared.size() >= 1, 5000);
    watch.stop();
    speaker.kill();
    speaker.waitForFinished(3000);
    QCOMPARE(recordedWhilePlaying, 0);
    QVERIFY(window->findChild<TakeContourView *>()->isVisible());

    for (const QList<QVariant> &take : saved) {
        const QString path = take.at(0).toString();
        savedTakes << path;
        const double seconds = ffprobeDuration(path);
        const std::optional<QList<qint16>> sound = readComparisonSound(path);
        QVERIFY(sound);
        const SoundMix mix = soundMix(*sound);
        const VoiceTrack speech = voicedStretch(voiceTrack(*sound));
        qInfo("%s: %.2f s, speech %.2f s, voiced %.2f, tone %.2f, other sound %.2f",
              qPrintable(QFileInfo(path).fileName()), seconds, speech.durationMs() / 1000.0,
              voicedShare(speech), mix.share('t'), mix.share('v'));
        QVERIFY2(seconds >= 1.5 && seconds <= 4.0, qPrintable(QString::number(seconds)));
        QVERIFY(speech.durationMs() >= 1000 && voicedShare(speech) > 0.2);
        QVERIFY(mix.share('v') > 0.6);
        // The lesson's tone reaches the take at most as the sound of the pass dies away.
        QVERIFY(mix.share('t') < 0.1);
    }
    QCOMPARE(QFileInfo(savedTakes.first()).absolutePath(),
             window->takeController()->store().lessonFolder(lessonPath));
}

// R: the lesson waits, the last take is heard, then its sentence from the start.
void tst_Takes::takeHeardThenSentence()
{
    if (!window)
        QSKIP("needs the takes of the test before");
    // No more takes: the take's own sound would record itself.
    childNamed<QCheckBox>(*window, "checkRecordTakes")->setChecked(false);
    QTRY_VERIFY(!window->takeController()->isRecording());
    QTest::qWait(500);
    SinkRecording recording;
    QVERIFY(recording.started());
    QSignalSpy replay(window->takeController(), &TakeController::sentenceReplayRequested);
    QTest::keyClick(window.get(), Qt::Key_R);
    QTRY_VERIFY_WITH_TIMEOUT(replay.size() == 1, 8000);
    QTest::qWait(1500);
    const QString heard = QString::fromLatin1(soundMix(recording.samples()).frames);
    qInfo("heard: %s", qPrintable(heard));
    // Voice first (a second at least, no tone inside), then the tone of the sentence.
    const qsizetype voiceStart = heard.indexOf('v');
    QVERIFY(voiceStart >= 0);
    const qsizetype toneAfter = heard.indexOf("ttttt", voiceStart);
    QVERIFY(toneAfter > 0);
    QVERIFY(heard.mid(voiceStart, toneAfter - voiceStart).count('v') >= 25);
    QVERIFY(heard.mid(voiceStart, toneAfter - voiceStart).count('t') <= 3);
    window.reset();
}

void tst_Takes::cleanupTestCase()
{
    window.reset();
    if (microphoneModule < 0)
        return;
    QProcess::execute("pactl", {"unload-module", QString::number(microphoneModule)});
    QProcess::execute("pactl", {"set-default-source", sourceBefore});
}

int main(int argc, char *argv[])
{
    // The takes go to a data folder of the test's own.
    QTemporaryDir data;
    qputenv("XDG_DATA_HOME", data.path().toUtf8());
    // As the program plays: Qt Multimedia's devices through its FFmpeg back end.
    qputenv("QT_MEDIA_BACKEND", "ffmpeg");
    QApplication app(argc, argv);
    tst_Takes test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_takes.moc"
