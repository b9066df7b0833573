#include "gui/player/playerwindow.h"
#include "testsupport.h"

#include <QApplication>
#include <QAudioDevice>
#include <QDir>
#include <QMediaDevices>
#include <QTest>

// Plays the demo lesson on a machine whose sound server cannot be reached: the player
// must play the video silently instead of crashing in the media back end.
class tst_NoSoundDevice : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void playsSilentlyWithoutAudioDevice();

private:
    QTemporaryDir settingsDir;
};

void tst_NoSoundDevice::initTestCase()
{
    QVERIFY(settingsDir.isValid());
    useTemporarySettings(settingsDir);
}

void tst_NoSoundDevice::playsSilentlyWithoutAudioDevice()
{
    if (!QMediaDevices::audioOutputs().isEmpty())
        QSKIP("an audio device answers despite the unreachable sound server");
    const QString demo = QCoreApplication::applicationDirPath() + "/OrviLoop Demo.mp4";
    QVERIFY(QFile::exists(demo));
    PlayerWindow window(nullptr, demo);
    window.show();
    QTRY_COMPARE_WITH_TIMEOUT(window.player->playbackState(), QMediaPlayer::PlayingState, 10000);
    QTRY_VERIFY_WITH_TIMEOUT(window.player->position() > 1500, 10000);
}

int main(int argc, char *argv[])
{
    // Before any audio code runs: no sound server is reachable.
    qputenv("PULSE_SERVER", "unix:/nonexistent/orviloop-no-sound");
    QApplication app(argc, argv);
    tst_NoSoundDevice test;
    return QTest::qExec(&test, argc, argv);
}
#include "tst_nosounddevice.moc"
