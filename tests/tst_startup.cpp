#include "app/startup.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

class tst_Startup : public QObject
{
    Q_OBJECT

private slots:
    void playArgument_data();
    void playArgument();

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

QTEST_GUILESS_MAIN(tst_Startup)
#include "tst_startup.moc"
