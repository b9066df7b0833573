#include "core/library/startup.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <locale.h>

class tst_Startup : public QObject
{
    Q_OBJECT

private slots:
    void playArgument_data();
    void playArgument();
    void lessonPlaysUnderLearnersLocale_data();
    void lessonPlaysUnderLearnersLocale();

private:
    QTemporaryDir dir;
};

void tst_Startup::playArgument_data()
{
    QVERIFY(dir.isValid());
    const QString a = dir.filePath("a.mp4");
    const QString b = dir.filePath("b.mp4");
    const QString chinese = dir.filePath("课程 一.mp4");
    for (const QString &path : {a, b, chinese}) {
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
    }
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("expected");
    QTest::newRow("no option") << QStringList{"orviloop", a} << QString();
    QTest::newRow("option last") << QStringList{"orviloop", "--play"} << QString();
    QTest::newRow("first match only") << QStringList{"orviloop", "--play", a, "--play", b} << a;
    QTest::newRow("case-sensitive") << QStringList{"orviloop", "--PLAY", a} << QString();
    QTest::newRow("missing file") << QStringList{"orviloop", "--play", dir.filePath("none.mp4")} << QString();
    QTest::newRow("missing first, existing later")
        << QStringList{"orviloop", "--play", dir.filePath("none.mp4"), "--play", a} << QString();
    QTest::newRow("utf8 path with space") << QStringList{"orviloop", "--play", chinese} << chinese;
}

void tst_Startup::playArgument()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, expected);
    QCOMPARE(::playArgument(arguments), expected);
}

void tst_Startup::lessonPlaysUnderLearnersLocale_data()
{
    QTest::addColumn<QString>("locale");
    QTest::newRow("zh_CN") << "zh_CN.UTF-8";
    QTest::newRow("de_DE") << "de_DE.UTF-8";
}

// The program as a learner starts it, in their own locale: the lesson opens on libmpv and plays
// on until the program is told to end.
void tst_Startup::lessonPlaysUnderLearnersLocale()
{
    QFETCH(QString, locale);
    if (locale_t available = newlocale(LC_ALL_MASK, locale.toUtf8().constData(), locale_t(0)))
        freelocale(available);
    else
        QSKIP("the locale is not generated on this machine");
    QTemporaryDir config;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("LC_ALL", locale);
    environment.insert("ORVILOOP_MEDIA_ENGINE", "mpv");
    environment.insert("QT_QPA_PLATFORM", "offscreen");
    environment.insert("XDG_CONFIG_HOME", config.path());
    environment.insert("PULSE_SERVER", "unix:/nonexistent/orviloop-quiet");
    QProcess program;
    program.setProcessEnvironment(environment);
    program.setProcessChannelMode(QProcess::MergedChannels);
    const QString buildDir = QCoreApplication::applicationDirPath();
    program.start(buildDir + "/orviloop", {"--play", buildDir + "/OrviLoop Demo.mp4"});
    QByteArray log;
#ifdef ORVILOOP_HAVE_MPV
    const QByteArray engineLine = "media engine: \"mpv\"";
#else
    const QByteArray engineLine = "media engine: \"qt\"";
#endif
    QTRY_VERIFY_WITH_TIMEOUT((log += program.readAll()).contains("字幕加载成功"), 20000);
    QTest::qWait(2000);
    log += program.readAll();
    QVERIFY2(program.state() == QProcess::Running && log.contains(engineLine), log.constData());
    program.terminate();
    QVERIFY(program.waitForFinished(10000));
    QCOMPARE(program.exitStatus(), QProcess::NormalExit);
}

QTEST_GUILESS_MAIN(tst_Startup)
#include "tst_startup.moc"
