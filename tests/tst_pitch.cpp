#include "player/playerwindow.h"
#include "testsupport.h"

#include <QProcess>
#include <QSettings>
#include <QTest>

#include <cmath>
#include <memory>

// A slower or faster lesson must still sound like its speaker: a 440 Hz tone played through the
// program at another rate is recorded from the sound server and must keep its pitch.

namespace {

constexpr int sampleRate = 44100;
constexpr double toneHz = 440.0;

double goertzelPower(const qint16 *x, int n, double hz)
{
    const double c = 2 * std::cos(2 * M_PI * hz / sampleRate);
    double s1 = 0, s2 = 0;
    for (int i = 0; i < n; ++i) {
        const double s0 = x[i] + c * s1 - s2;
        s2 = s1;
        s1 = s0;
    }
    return s1 * s1 + s2 * s2 - c * s1 * s2;
}

// The strongest frequency between 200 and 1000 Hz, to a quarter of a hertz.
double dominantFrequency(const QByteArray &pcm)
{
    const auto *x = reinterpret_cast<const qint16 *>(pcm.constData());
    const int n = int(pcm.size() / 2);
    double best = 0, bestPower = -1;
    for (double hz = 200; hz <= 1000; hz += 0.25) {
        const double power = goertzelPower(x, n, hz);
        if (power > bestPower) {
            bestPower = power;
            best = hz;
        }
    }
    return best;
}

} // namespace

class tst_Pitch : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void toneKeepsItsPitch_data();
    void toneKeepsItsPitch();

private:
    QTemporaryDir settingsDir;
    QTemporaryDir mediaDir;
    QString tonePath;
};

void tst_Pitch::initTestCase()
{
    QVERIFY(settingsDir.isValid());
    QVERIFY(mediaDir.isValid());
    useTemporarySettings(settingsDir);
#if QT_VERSION < QT_VERSION_CHECK(6, 10, 0)
    if (preferredMediaEngineName() == "qt")
        QSKIP("QMediaPlayer keeps the pitch only from Qt 6.10 on");
#endif
    if (QProcess::execute("pactl", {"info"}) != 0)
        QSKIP("no sound server to record from");
    tonePath = mediaDir.filePath("tone lesson.wav");
    QCOMPARE(QProcess::execute("ffmpeg", {"-hide_banner", "-loglevel", "error", "-y", "-f", "lavfi", "-i",
                                          "sine=frequency=440:sample_rate=44100:duration=12", tonePath}),
             0);
}

void tst_Pitch::toneKeepsItsPitch_data()
{
    QTest::addColumn<double>("rate");
    QTest::newRow("slow") << 0.6;
    QTest::newRow("fast") << 2.0;
}

void tst_Pitch::toneKeepsItsPitch()
{
    QFETCH(double, rate);
    clearSettings();
    {
        QSettings settings("Orvi", "OrviLoop");
        settings.setValue("global/playMode", 0);
        settings.setValue("global/playRate", rate);
    }
    QProcess recorder;
    recorder.start("parec", {"--device=@DEFAULT_MONITOR@", "--format=s16le", "--rate=44100", "--channels=1",
                             "--latency-msec=20", "--raw"});
    QVERIFY2(recorder.waitForStarted(5000), "parec cannot be started");
    QByteArray pcm;
    connect(&recorder, &QProcess::readyReadStandardOutput, this,
            [&] { pcm += recorder.readAllStandardOutput(); });

    auto window = std::make_unique<PlayerWindow>(nullptr, tonePath);
    window->show();
    QTRY_VERIFY_WITH_TIMEOUT(window->player->playbackState() == QMediaPlayer::PlayingState &&
                                 window->player->position() > 1500,
                             10000);
    QVERIFY(qAbs(window->player->playbackRate() - rate) < 1e-3);
    // A second of what is heard from now on, past the output's buffering.
    const qsizetype from = pcm.size() + sampleRate * 2 / 5;
    const qsizetype second = sampleRate * 2;
    QTRY_VERIFY_WITH_TIMEOUT(pcm.size() >= from + second, 5000);
    window.reset();
    recorder.kill();
    recorder.waitForFinished(3000);

    const double heard = dominantFrequency(pcm.mid(from, second));
    QVERIFY2(qAbs(heard - toneHz) <= toneHz * 0.01,
             qPrintable(QString("heard %1 Hz at rate %2 on the %3 engine")
                            .arg(heard)
                            .arg(rate)
                            .arg(qEnvironmentVariable("ORVILOOP_MEDIA_ENGINE", preferredMediaEngineName()))));
}

QTEST_MAIN(tst_Pitch)
#include "tst_pitch.moc"
