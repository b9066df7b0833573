#include "core/library/appdata.h"
#include "core/settings/settings.h"
#include "testsupport.h"

#include <QTest>

#include <limits>

// The settings store read and written whole: round trips, and what stores written by hand, by
// damage or by earlier versions read as.
class tst_Settings : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void roundTrip_data();
    void roundTrip();
    void storedValuesRead_data();
    void storedValuesRead();
    void lessonPlace_data();
    void lessonPlace();

private:
    QTemporaryDir settingsDir;
};

Q_DECLARE_METATYPE(Settings)
Q_DECLARE_METATYPE(LessonPlace)

// Every field, so that a comparison names the one that differs.
static QString describe(const Settings &s)
{
    return QString("rootDir=%1 lastFile=%2 playMode=%3 repeatCount=%4 display=%5 rate=%6 group=%7 "
                   "filter=%8 hwDecode=%9 shadowPause=%10 passRates=%11 language=%12 geometry=%13")
        .arg(s.rootDir, s.lastFile)
        .arg(int(s.playMode))
        .arg(s.repeatCount)
        .arg(int(s.subtitleDisplay))
        .arg(s.playRate)
        .arg(int(s.playGroup))
        .arg(s.filterChinese)
        .arg(s.hwDecode)
        .arg(s.shadowPause)
        .arg(s.passRates, s.subtitleLanguage, QString::fromLatin1(s.windowGeometry.toHex()));
}

void tst_Settings::initTestCase()
{
    QVERIFY(settingsDir.isValid());
    useTemporarySettings(settingsDir);
}

void tst_Settings::init()
{
    clearSettings();
}

void tst_Settings::roundTrip_data()
{
    QTest::addColumn<Settings>("settings");
    QTest::newRow("defaults") << Settings();
    Settings chosen;
    chosen.rootDir = "/home/学生/课文 二";
    chosen.lastFile = "/home/学生/课文 二/it's a \"lesson\".mp4";
    chosen.playMode = PlayMode::AutoNext;
    chosen.repeatCount = 5;
    chosen.subtitleDisplay = SubtitleDisplay::LastPass;
    chosen.playRate = 0.85;
    chosen.playGroup = PlayGroup::Group1;
    chosen.filterChinese = true;
    chosen.hwDecode = false;
    chosen.shadowPause = 3;
    chosen.passRates = "0.7, 0.85, 1.0";
    chosen.subtitleLanguage = "eng";
    chosen.windowGeometry = QByteArray("\x01\x00\xff", 3);
    QTest::newRow("every field chosen, utf8 paths") << chosen;
    Settings network;
    network.lastFile = "https://127.0.0.1:8443/课文/lesson%20one.mp4";
    network.playMode = PlayMode::NormalPlay;
    network.playGroup = PlayGroup::Group2;
    QTest::newRow("network lesson last") << network;
}

void tst_Settings::roundTrip()
{
    QFETCH(Settings, settings);
    settings.save();
    QCOMPARE(describe(Settings::load()), describe(settings));

    // Keys nobody reads that earlier versions wrote: kept, equal to the keys that are read.
    QSettings store(Settings::organisation, Settings::application);
    QCOMPARE(store.value("global/playbackRate").toDouble(), settings.playRate);
    QCOMPARE(store.value("global/currentGroup").toInt(), int(settings.playGroup));
}

void tst_Settings::storedValuesRead_data()
{
    QTest::addColumn<QVariantMap>("stored");
    QTest::addColumn<Settings>("expected");
    Settings defaults;
    defaults.rootDir = appDataDirectory();
    const auto with = [&](auto change) {
        Settings s = defaults;
        change(s);
        return s;
    };
    QTest::newRow("empty store") << QVariantMap() << defaults;
    QTest::newRow("play mode 7") << QVariantMap{{"global/playMode", 7}} << defaults;
    QTest::newRow("play mode -1") << QVariantMap{{"global/playMode", -1}} << defaults;
    // Text reads as 0, as any QVariant conversion gives it.
    QTest::newRow("play mode text") << QVariantMap{{"global/playMode", "fast"}}
                                    << with([](Settings &s) { s.playMode = PlayMode::NormalPlay; });
    QTest::newRow("repeat count 0") << QVariantMap{{"global/repeatCount", 0}} << defaults;
    QTest::newRow("repeat count -4") << QVariantMap{{"global/repeatCount", -4}} << defaults;
    QTest::newRow("rate not a number")
        << QVariantMap{{"global/playRate", std::numeric_limits<double>::quiet_NaN()}} << defaults;
    QTest::newRow("rate infinite") << QVariantMap{{"global/playRate",
                                                   std::numeric_limits<double>::infinity()}}
                                   << defaults;
    QTest::newRow("display mode 9") << QVariantMap{{"global/subtitleDisplayMode", 9}} << defaults;
    QTest::newRow("group -1") << QVariantMap{{"global/playGroup", -1}} << defaults;
    QTest::newRow("pause to speak 8")
        << QVariantMap{{"global/shadowPause", 8}} << with([](Settings &s) { s.shadowPause = 3; });
    QTest::newRow("hardware decoding off as text")
        << QVariantMap{{"global/hwDecode", "false"}} << with([](Settings &s) { s.hwDecode = false; });
    // Written by earlier versions: the rate box's value and the group a second time.
    QTest::newRow("old duplicate keys differ") << QVariantMap{{"global/playRate", 1.4},
                                                              {"global/playbackRate", 1.2},
                                                              {"global/playGroup", 2},
                                                              {"global/currentGroup", 1}}
                                               << with([](Settings &s) {
                                                      s.playRate = 1.4;
                                                      s.playGroup = PlayGroup::Group1;
                                                  });
    QTest::newRow("only old duplicate keys")
        << QVariantMap{{"global/playbackRate", 1.5}, {"global/currentGroup", 2}} << defaults;
}

void tst_Settings::storedValuesRead()
{
    QFETCH(QVariantMap, stored);
    QFETCH(Settings, expected);
    {
        QSettings store(Settings::organisation, Settings::application);
        for (auto it = stored.cbegin(); it != stored.cend(); ++it)
            store.setValue(it.key(), it.value());
    }
    const Settings read = Settings::load();
    QCOMPARE(describe(read), describe(expected));

    // Written back, a damaged value is mended and the rest is unchanged.
    read.save();
    QCOMPARE(describe(Settings::load()), describe(expected));
}

void tst_Settings::lessonPlace_data()
{
    QTest::addColumn<QString>("lesson");
    QTest::addColumn<LessonPlace>("place");
    QTest::newRow("ascii path") << "/tmp/lesson.mp4" << LessonPlace{83456, 2, 8};
    QTest::newRow("utf8 path with space") << "/home/学生/课文 一.mkv" << LessonPlace{1500, 0, 0};
    QTest::newRow("quotes, over 2^31 ms")
        << "/tmp/it's a \"lesson\" (2).mp3" << LessonPlace{qint64(1) << 33, 4, 1200};
    QTest::newRow("network address") << "https://127.0.0.1:8443/a%20b.mp4" << LessonPlace{0, 1, -1};
}

void tst_Settings::lessonPlace()
{
    QFETCH(QString, lesson);
    QFETCH(LessonPlace, place);
    const auto fields = [](const LessonPlace &p) {
        return QString("%1 %2 %3").arg(p.position).arg(p.repeatCounter).arg(p.sentence);
    };
    QCOMPARE(fields(LessonPlace::load(lesson)), fields(LessonPlace()));
    place.save(lesson);
    QCOMPARE(fields(LessonPlace::load(lesson)), fields(place));
    // The lesson is known by its path as given: another spelling has no place yet.
    QCOMPARE(fields(LessonPlace::load(lesson + "/")), fields(LessonPlace()));
    // Saving the settings leaves the places alone.
    Settings::load().save();
    QCOMPARE(fields(LessonPlace::load(lesson)), fields(place));
}

QTEST_GUILESS_MAIN(tst_Settings)
#include "tst_settings.moc"
