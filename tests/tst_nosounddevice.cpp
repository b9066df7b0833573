#include "gui/player/playerwindow.h"
#include "gui/player/takecontroller.h"
#include "testsupport.h"
#include "ui_playerwindow.h"

#include <QApplication>
#include <QAudioDevice>
#include <QDir>
#include <QMediaDevices>
#include <QSettings>
#include <QTest>

// Plays the demo lesson on a machine whose sound server cannot be reached: the player
// must play the video silently instead of crashing in the media back end.
class tst_NoSoundDevice : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void playsSilentlyWithoutAudioDevice();
    void takesSayThereIsNoMicrophone();

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
    QTRY_COMPARE_WITH_TIMEOUT(window.mediaEngine()->playbackState(), QMediaPlayer::PlayingState, 10000);
    QTRY_VERIFY_WITH_TIMEOUT(window.mediaEngine()->position() > 1500, 10000);
}

// 录音跟读 on without a microphone: the switch says so, the pauses record nothing, the lesson
// plays on.
void tst_NoSoundDevice::takesSayThereIsNoMicrophone()
{
    if (!QMediaDevices::audioInputs().isEmpty())
        QSKIP("a microphone answers despite the unreachable sound server");
    QSettings("Orvi", "OrviLoop").setValue("global/recordTakes", true);
    const QString demo = QCoreApplication::applicationDirPath() + "/OrviLoop Demo.mp4";
    PlayerWindow window(nullptr, demo);
    window.show();
    QVERIFY(childNamed<QCheckBox>(window, "checkRecordTakes")->isChecked());
    QVERIFY(childNamed<QCheckBox>(window, "checkRecordTakes")->text().contains("无麦克风"));
    QVERIFY(childNamed<QCheckBox>(window, "checkRecordTakes")->toolTip().contains("没有找到麦克风"));
    QTRY_COMPARE_WITH_TIMEOUT(window.mediaEngine()->playbackState(), QMediaPlayer::PlayingState, 10000);
    window.takeController()->onSpeakingPauseStarted(0, 1000);
    QVERIFY(!window.takeController()->isRecording());
    QVERIFY(!QFileInfo::exists(window.takeController()->store().lessonFolder(demo)));
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
