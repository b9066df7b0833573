#include "lessonmedia.h"
#include "core/groups/group2store.h"
#include "gui/player/playerwindow.h"
#include "testsupport.h"
#include "ui_playerwindow.h"

#include <QElapsedTimer>
#include <QFile>
#include <QGraphicsTextItem>
#include <QProcess>
#include <QTest>

// The two sentence groups, the play list chosen from them, the switch button and
// group 2 in the settings store.
class tst_Groups : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void rebuildCleansGroup2_data();
    void rebuildCleansGroup2();
    void storedGroup2LoadsWithLesson_data();
    void storedGroup2LoadsWithLesson();
    void switchCycle_data();
    void switchCycle();
    void switchWithBrowserLists_data();
    void switchWithBrowserLists();
    void emptiedPlayedGroupFallsBackToAll_data();
    void emptiedPlayedGroupFallsBackToAll();
    void addToGroup2_data();
    void addToGroup2();
    void group2ArrayLayout();

private:
    static QList<SubtitleItem> sentences(int count);
    static QString settingsText();
    static void waitUntilRestored(PlayerWindow &window);
    QString makeLesson(const QString &baseName);

    QTemporaryDir settingsDir;
    QTemporaryDir lessonDir;
    QString media;
    QString asciiLesson;
    QString utf8Lesson;
};

// 100 sentences, one a second: sentence i spans i s + 100 ms … i s + 700 ms.
static qint64 startOf(int i)
{
    return i * 1000 + 100;
}

static qint64 endOf(int i)
{
    return i * 1000 + 700;
}

QList<SubtitleItem> tst_Groups::sentences(int count)
{
    QList<SubtitleItem> items;
    for (int i = 0; i < count; ++i)
        items.append(SubtitleItem{i, startOf(i), endOf(i), QString("Sentence %1").arg(i)});
    return items;
}

void tst_Groups::initTestCase()
{
    QVERIFY(settingsDir.isValid());
    QVERIFY(lessonDir.isValid());
    useTemporarySettings(settingsDir);

    media = lessonDir.filePath("source.mp4");
    QVERIFY(makeTestVideo(media, 100));
    asciiLesson = makeLesson("lesson");
    utf8Lesson = makeLesson("分组 课程");
}

QString tst_Groups::makeLesson(const QString &baseName)
{
    const QString path = lessonDir.filePath(baseName + ".mp4");
    if (!QFile::copy(media, path))
        return {};
    QFile srt(lessonDir.filePath(baseName + ".srt1"));
    if (!srt.open(QIODevice::WriteOnly))
        return {};
    QString text;
    for (const SubtitleItem &item : sentences(100)) {
        text += QString("%1\n%2 --> %3\n%4\n\n")
                    .arg(item.index + 1)
                    .arg(lessonSrtTime(item.startMs), lessonSrtTime(item.endMs), item.text);
    }
    srt.write(text.toUtf8());
    return path;
}

void tst_Groups::init()
{
    clearSettings();
}

QString tst_Groups::settingsText()
{
    QFile file(QSettings("Orvi", "OrviLoop").fileName());
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QString::fromUtf8(file.readAll());
}

// The place of the lesson is restored as its media has loaded.
void tst_Groups::waitUntilRestored(PlayerWindow &window)
{
    const auto loaded = [&] {
        const QMediaPlayer::MediaStatus status = window.mediaEngine()->mediaStatus();
        return status == QMediaPlayer::LoadedMedia || status == QMediaPlayer::BufferingMedia ||
               status == QMediaPlayer::BufferedMedia;
    };
    QTRY_VERIFY_WITH_TIMEOUT(loaded(), 10000);
}

void tst_Groups::rebuildCleansGroup2_data()
{
    QTest::addColumn<int>("count");
    QTest::addColumn<QList<int>>("stored");
    QTest::addColumn<int>("group");
    QTest::addColumn<QList<int>>("group2");
    QTest::addColumn<int>("group1Size");
    QTest::addColumn<int>("playGroup");
    QTest::addColumn<QString>("buttonText");
    QTest::addColumn<int>("index");

    QTest::newRow("duplicates and beyond the lesson")
        << 100 << QList<int>{7, 3, 7, 250} << 0 << QList<int>{3, 7} << 98 << 0 << "全部" << 0;
    QTest::newRow("negative index dropped")
        << 5 << QList<int>{-1, 2} << 0 << QList<int>{2} << 4 << 0 << "全部" << 0;
    QTest::newRow("no group 2") << 5 << QList<int>{} << 0 << QList<int>{} << 5 << 0 << "请先分组" << 0;
    QTest::newRow("playing an empty group 2")
        << 5 << QList<int>{9} << 1 << QList<int>{} << 5 << 0 << "请先分组" << 0;
    QTest::newRow("playing an empty group 1")
        << 3 << QList<int>{2, 1, 0} << 2 << QList<int>{0, 1, 2} << 0 << 0 << "全部" << 0;
    QTest::newRow("playing group 2 starts at its first")
        << 6 << QList<int>{4, 2} << 1 << QList<int>{2, 4} << 4 << 1 << "组2" << 2;
    QTest::newRow("playing group 1 starts at its first")
        << 6 << QList<int>{0, 1} << 2 << QList<int>{0, 1} << 4 << 2 << "组1" << 2;
    QTest::newRow("unknown stored choice plays all")
        << 5 << QList<int>{2} << 7 << QList<int>{2} << 4 << 0 << "全部" << 0;
    QTest::newRow("no sentences") << 0 << QList<int>{1} << 1 << QList<int>{} << 0 << 0 << "请先分组" << -1;
}

void tst_Groups::rebuildCleansGroup2()
{
    QFETCH(int, count);
    QFETCH(QList<int>, stored);
    QFETCH(int, group);
    QFETCH(QList<int>, group2);
    QFETCH(int, group1Size);
    QFETCH(int, playGroup);
    QFETCH(QString, buttonText);
    QFETCH(int, index);

    PlayerWindow window(nullptr, QString());
    RepeatSession *session = window.repeatSession();
    session->setPlayGroup(PlayGroup(group));
    session->setSentences(sentences(count), stored);

    QCOMPARE(session->group2(), group2);
    QCOMPARE(session->group1().size(), group1Size);
    QList<int> all;
    for (int i = 0; i < count; ++i) {
        all.append(i);
        QVERIFY(session->group1().contains(i) != group2.contains(i));
    }
    QCOMPARE(int(session->playGroup()), playGroup);
    QCOMPARE(childNamed<QPushButton>(window, "btnSwitchGroup")->text(), buttonText);
    QCOMPARE(childNamed<QPushButton>(window, "btnSwitchGroup")->isEnabled(), !group2.isEmpty());
    QCOMPARE(session->currentSentence(), index);
    QCOMPARE(session->repeatRound(), 0);

    const QList<int> expectedList = playGroup == 1 ? group2 : playGroup == 2 ? session->group1() : all;
    QCOMPARE(session->playList(), expectedList);
    if (!expectedList.isEmpty()) {
        QCOMPARE(childNamed<QSlider>(window, "horizontalSlider")->minimum(),
                 int(startOf(expectedList.first())));
        QCOMPARE(childNamed<QSlider>(window, "horizontalSlider")->maximum(), int(endOf(expectedList.last())));
    }
}

void tst_Groups::storedGroup2LoadsWithLesson_data()
{
    QTest::addColumn<QString>("lesson");
    QTest::addColumn<int>("storedSize"); // -1: as written
    QTest::newRow("ascii path") << asciiLesson << -1;
    QTest::newRow("utf8 path with space") << utf8Lesson << -1;
    // A damaged store: read up to the lesson's sentences, not two thousand million times.
    QTest::newRow("absurd stored size") << asciiLesson << 2000000000;
}

// The whole road: the stored array, then the lesson's subtitles, then the cleaned groups.
void tst_Groups::storedGroup2LoadsWithLesson()
{
    QFETCH(QString, lesson);
    QFETCH(int, storedSize);
    Group2Store::write({7, 3, 7, 250});
    QSettings("Orvi", "OrviLoop").setValue("global/playGroup", 1);
    if (storedSize >= 0)
        QSettings("Orvi", "OrviLoop").setValue("Group2/size", storedSize);

    QElapsedTimer opening;
    opening.start();
    PlayerWindow window(nullptr, lesson);
    QVERIFY2(opening.elapsed() < 3000, qPrintable(QString::number(opening.elapsed())));
    const RepeatSession *session = window.repeatSession();
    QCOMPARE(session->sentences().size(), 100);
    QCOMPARE(session->group2(), (QList<int>{3, 7}));
    QCOMPARE(session->group1().size(), 98);
    QVERIFY(!session->group1().contains(3));
    QVERIFY(!session->group1().contains(7));
    QCOMPARE(session->group1().first(), 0);
    QCOMPARE(session->group1().last(), 99);
    QCOMPARE(session->playGroup(), PlayGroup::Group2);
    QCOMPARE(session->currentSentence(), 3);
    QCOMPARE(childNamed<QPushButton>(window, "btnSwitchGroup")->text(), QString("组2"));
    QVERIFY(childNamed<QPushButton>(window, "btnSwitchGroup")->isEnabled());
}

void tst_Groups::switchCycle_data()
{
    QTest::addColumn<int>("clicks");
    QTest::addColumn<QList<int>>("stored");
    QTest::addColumn<QString>("buttonText");
    QTest::addColumn<int>("playGroup");
    QTest::addColumn<int>("index");
    QTest::addColumn<int>("sliderMin");
    QTest::addColumn<int>("sliderMax");
    QTest::newRow("to group 2") << 1 << QList<int>{3, 7} << "组2" << 1 << 3 << int(startOf(3))
                                << int(endOf(7));
    QTest::newRow("to group 1") << 2 << QList<int>{3, 7} << "组1" << 2 << 0 << int(startOf(0))
                                << int(endOf(99));
    QTest::newRow("back to all") << 3 << QList<int>{3, 7} << "全部" << 0 << 0 << int(startOf(0))
                                 << int(endOf(99));
    QTest::newRow("group 1 starting later")
        << 2 << QList<int>{0, 1, 2} << "组1" << 2 << 3 << int(startOf(3)) << int(endOf(99));
    // A disabled button does nothing: the player stays where it was (index and slider -1).
    QTest::newRow("no group 2: button disabled") << 1 << QList<int>{} << "请先分组" << 0 << -1 << -1 << -1;
}

void tst_Groups::switchCycle()
{
    QFETCH(int, clicks);
    QFETCH(QList<int>, stored);
    QFETCH(QString, buttonText);
    QFETCH(int, playGroup);
    QFETCH(int, index);
    QFETCH(int, sliderMin);
    QFETCH(int, sliderMax);
    Group2Store::write(stored);
    // Normal play, so that the engine lets the player stand where the test puts it.
    QSettings("Orvi", "OrviLoop").setValue("global/playMode", 0);

    PlayerWindow window(nullptr, asciiLesson);
    QCOMPARE(childNamed<QPushButton>(window, "btnSwitchGroup")->isEnabled(), !stored.isEmpty());
    const RepeatSession *session = window.repeatSession();
    QCOMPARE(session->playGroup(), PlayGroup::All);
    waitUntilRestored(window);
    window.mediaEngine()->pause();
    window.mediaEngine()->setPosition(50500);
    QTRY_COMPARE(window.mediaEngine()->position(), qint64(50500));
    const int indexBefore = session->currentSentence();
    const int sliderMinBefore = childNamed<QSlider>(window, "horizontalSlider")->minimum();
    const int sliderMaxBefore = childNamed<QSlider>(window, "horizontalSlider")->maximum();

    for (int i = 0; i < clicks; ++i)
        childNamed<QPushButton>(window, "btnSwitchGroup")->click();
    QCOMPARE(childNamed<QPushButton>(window, "btnSwitchGroup")->text(), buttonText);
    QCOMPARE(int(session->playGroup()), playGroup);
    if (index < 0) {
        QCOMPARE(session->currentSentence(), indexBefore);
        QCOMPARE(childNamed<QSlider>(window, "horizontalSlider")->minimum(), sliderMinBefore);
        QCOMPARE(childNamed<QSlider>(window, "horizontalSlider")->maximum(), sliderMaxBefore);
        QTest::qWait(200);
        QCOMPARE(window.mediaEngine()->position(), qint64(50500));
        return;
    }
    QCOMPARE(session->currentSentence(), index);
    QCOMPARE(childNamed<QSlider>(window, "horizontalSlider")->minimum(), sliderMin);
    QCOMPARE(childNamed<QSlider>(window, "horizontalSlider")->maximum(), sliderMax);
    QTRY_COMPARE(window.mediaEngine()->position(), startOf(index));
    QCOMPARE(window.subtitleItem()->toPlainText(), QString("Sentence %1").arg(index));
}

void tst_Groups::switchWithBrowserLists_data()
{
    QTest::addColumn<QList<int>>("left");
    QTest::addColumn<QList<int>>("right");
    QTest::addColumn<int>("clicks");
    QTest::addColumn<int>("playGroup");
    QTest::addColumn<int>("index");
    // The browser's lists are taken as they come: unsorted, with duplicates.
    QTest::newRow("unsorted group 2 starts at its first")
        << QList<int>{0, 1, 2} << QList<int>{8, 5, 5} << 1 << 1 << 8;
    QTest::newRow("group 1 from the browser") << QList<int>{6, 2} << QList<int>{8} << 2 << 2 << 6;
    QTest::newRow("stale group beyond the lesson") << QList<int>{15} << QList<int>{12} << 2 << 2 << 0;
}

void tst_Groups::switchWithBrowserLists()
{
    QFETCH(QList<int>, left);
    QFETCH(QList<int>, right);
    QFETCH(int, clicks);
    QFETCH(int, playGroup);
    QFETCH(int, index);

    RepeatSession session;
    session.setSentences(sentences(10), {});
    session.setGroups(left, right);
    QCOMPARE(session.group1(), left);
    QCOMPARE(session.group2(), right);
    for (int i = 0; i < clicks; ++i)
        session.switchGroup();
    QCOMPARE(int(session.playGroup()), playGroup);
    QCOMPARE(session.currentSentence(), index);
    QCOMPARE(session.playList(), playGroup == 1 ? right : left);
    // Nothing is stored here: the browser stores group 2 itself.
    QVERIFY(Group2Store::read().isEmpty());
}

void tst_Groups::emptiedPlayedGroupFallsBackToAll_data()
{
    QTest::addColumn<int>("group");
    QTest::addColumn<QList<int>>("left");
    QTest::addColumn<QList<int>>("right");
    QTest::addColumn<bool>("switchOn");
    QTest::addColumn<QString>("buttonText");
    const QList<int> all{0, 1, 2, 3, 4, 5, 6, 7, 8, 9};
    QTest::newRow("browser clears group 2 while it plays") << 1 << all << QList<int>{} << false << "请先分组";
    QTest::newRow("browser takes all of group 1 while it plays")
        << 2 << QList<int>{} << all << false << "全部";
    QTest::newRow("switching on to an empty group 1") << 1 << QList<int>{} << all << true << "全部";
}

// A group with nothing left in it would leave the engine idle while the media runs on.
void tst_Groups::emptiedPlayedGroupFallsBackToAll()
{
    QFETCH(int, group);
    QFETCH(QList<int>, left);
    QFETCH(QList<int>, right);
    QFETCH(bool, switchOn);
    QFETCH(QString, buttonText);

    PlayerWindow window(nullptr, QString());
    RepeatSession *session = window.repeatSession();
    session->setPlayMode(PlayMode::NormalPlay);
    session->setPlayGroup(PlayGroup(group));
    session->setSentences(sentences(10), {3, 7});
    session->setGroups(left, right);
    if (switchOn)
        session->switchGroup();

    QCOMPARE(session->playGroup(), PlayGroup::All);
    QCOMPARE(session->playList().size(), 10);
    QCOMPARE(childNamed<QPushButton>(window, "btnSwitchGroup")->text(), buttonText);
    QCOMPARE(childNamed<QPushButton>(window, "btnSwitchGroup")->isEnabled(), !right.isEmpty());
    QCOMPARE(session->currentSentence(), 0);
    session->onPosition(startOf(0)); // the jump to the first sentence has landed
    session->onPosition(startOf(4) + 50);
    QCOMPARE(session->currentSentence(), 4);
}

void tst_Groups::addToGroup2_data()
{
    QTest::addColumn<int>("count");
    QTest::addColumn<QList<int>>("group2");
    QTest::addColumn<int>("group");
    QTest::addColumn<int>("added");
    QTest::addColumn<QList<int>>("newGroup2");
    QTest::addColumn<QList<int>>("newGroup1");
    QTest::addColumn<int>("playGroup");
    QTest::addColumn<QString>("buttonText");
    QTest::addColumn<QList<int>>("stored");

    QTest::newRow("into an empty group 2") << 4 << QList<int>{} << 0 << 2 << QList<int>{2}
                                           << QList<int>{0, 1, 3} << 0 << "全部" << QList<int>{2};
    QTest::newRow("sorted in") << 6 << QList<int>{5} << 0 << 1 << QList<int>{1, 5} << QList<int>{0, 2, 3, 4}
                               << 0 << "全部" << QList<int>{1, 5};
    QTest::newRow("while playing group 2") << 6 << QList<int>{1, 4} << 1 << 4 << QList<int>{1, 4}
                                           << QList<int>{0, 2, 3, 5} << 1 << "组2" << QList<int>{1, 4};
    QTest::newRow("last of group 1 while playing group 1")
        << 3 << QList<int>{0, 1} << 2 << 2 << QList<int>{0, 1, 2} << QList<int>{} << 0 << "全部"
        << QList<int>{0, 1, 2};
}

void tst_Groups::addToGroup2()
{
    QFETCH(int, count);
    QFETCH(QList<int>, group2);
    QFETCH(int, group);
    QFETCH(int, added);
    QFETCH(QList<int>, newGroup2);
    QFETCH(QList<int>, newGroup1);
    QFETCH(int, playGroup);
    QFETCH(QString, buttonText);
    QFETCH(QList<int>, stored);

    PlayerWindow window(nullptr, QString());
    RepeatSession *session = window.repeatSession();
    session->setPlayGroup(PlayGroup(group));
    session->setSentences(sentences(count), group2);
    session->seekTo(startOf(added));
    QCOMPARE(session->currentSentence(), added);
    Group2Store::write({42});

    const QString line = QString("跳过：句子 %1 加入组2，组2共 %2 句").arg(added).arg(newGroup2.size());
    QTest::ignoreMessage(QtDebugMsg, qPrintable(line));
    childNamed<QPushButton>(window, "btnSkipSentence")->click();

    QCOMPARE(session->group2(), newGroup2);
    QCOMPARE(session->group1(), newGroup1);
    QCOMPARE(int(session->playGroup()), playGroup);
    QCOMPARE(childNamed<QPushButton>(window, "btnSwitchGroup")->text(), buttonText);
    QVERIFY(childNamed<QPushButton>(window, "btnSwitchGroup")->isEnabled());
    QCOMPARE(Group2Store::read(), stored);
}

// The stored form that the subtitle browser and the next start read back.
void tst_Groups::group2ArrayLayout()
{
    PlayerWindow window(nullptr, QString());
    RepeatSession *session = window.repeatSession();
    session->setPlayMode(PlayMode::Repeat);
    session->setSentences(sentences(12), {});
    for (int sentence : {11, 4, 9}) {
        session->seekTo(startOf(sentence));
        childNamed<QPushButton>(window, "btnSkipSentence")->click();
    }

    const QString text = settingsText();
    QVERIFY2(text.contains("[Group2]\n1\\index=4\n2\\index=9\n3\\index=11\nsize=3\n"), qPrintable(text));
    // The array lives at the top level, not inside "global".
    QVERIFY(!QSettings("Orvi", "OrviLoop").contains("global/Group2/size"));

    // A shorter group replaces the whole array: no entry of the longer one is left behind.
    Group2Store::write({5});
    const QString shorter = settingsText();
    QVERIFY2(shorter.contains("[Group2]\n1\\index=5\nsize=1\n"), qPrintable(shorter));
    QVERIFY(!shorter.contains("2\\index="));
}

QTEST_MAIN(tst_Groups)
#include "tst_groups.moc"
