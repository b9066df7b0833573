#include "core/drill/chineselines.h"
#include "playerwindowtest.h"
#include "testsupport.h"

#include "ui_playerwindow.h"

#include <QGraphicsTextItem>
#include <QTest>

#include <memory>

// What the subtitle item shows: the display modes against the repetitions, and the filter
// that hides Chinese lines. The repetitions are played through the engine, report by report.

class tst_Overlay : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();

    void displayModeAgainstRepetitions_data();
    void displayModeAgainstRepetitions();
    void displayModeChangeRestartsCount();
    void neverModeStaysHidden();
    void chineseFilter_data();
    void chineseFilter();
    void filterButton_data();
    void filterButton();

private:
    std::unique_ptr<PlayerWindow> openWindow(const QStringList &texts, int playMode);
    static void report(PlayerWindow &w, qint64 position) { PlayerWindowTest::report(w, position); }

    QTemporaryDir settingsDir;
};

void tst_Overlay::initTestCase()
{
    QVERIFY(settingsDir.isValid());
    useTemporarySettings(settingsDir);
}

void tst_Overlay::init()
{
    clearSettings();
}

// One sentence per text, 1000 ms long, every 3000 ms from 1000 ms on.
std::unique_ptr<PlayerWindow> tst_Overlay::openWindow(const QStringList &texts, int playMode)
{
    QList<SubtitleItem> sentences;
    for (const QString &text : texts) {
        const qint64 start = 1000 + 3000 * sentences.size();
        sentences << SubtitleItem{int(sentences.size()), start, start + 1000, text};
    }
    auto w = PlayerWindowTest::open(sentences, playMode);
    return w;
}

void tst_Overlay::displayModeAgainstRepetitions_data()
{
    const QString s = "Sentence";
    QTest::addColumn<int>("playMode");
    QTest::addColumn<int>("displayMode");
    QTest::addColumn<QStringList>("shownPerPass");
    QTest::newRow("always, auto next") << 2 << 0 << QStringList{s, s, s};
    QTest::newRow("first pass only, auto next") << 2 << 2 << QStringList{s, "", ""};
    QTest::newRow("last pass only, auto next") << 2 << 3 << QStringList{"", "", s};
    QTest::newRow("first pass only, repeater") << 1 << 2 << QStringList{s, s, s};
    QTest::newRow("last pass only, repeater") << 1 << 3 << QStringList{s, s, s};
    QTest::newRow("unknown display mode") << 2 << 7 << QStringList{"", "", ""};
}

// Three passes over the first sentence (repeatCount 3), read inside the sentence each time.
void tst_Overlay::displayModeAgainstRepetitions()
{
    QFETCH(int, playMode);
    QFETCH(int, displayMode);
    QFETCH(QStringList, shownPerPass);
    auto w = openWindow({"Sentence", "Other"}, playMode);
    QVERIFY(w);
    childNamed<QSpinBox>(*w, "spinRepeat")->setValue(3);
    w->repeatSession()->setDisplayMode(SubtitleDisplay(displayMode));
    for (int pass = 0; pass < 3; ++pass) {
        report(*w, 1000);
        report(*w, 1500);
        QCOMPARE(w->repeatSession()->currentSentence(), 0);
        QCOMPARE(w->subtitleItem()->toPlainText(), shownPerPass.at(pass));
        QVERIFY(w->subtitleItem()->isVisible());
        report(*w, 2500);
    }
}

// Changing the display mode in the middle of the second pass makes it count as the first.
void tst_Overlay::displayModeChangeRestartsCount()
{
    auto w = openWindow({"Sentence", "Other"}, 2);
    QVERIFY(w);
    childNamed<QSpinBox>(*w, "spinRepeat")->setValue(3);
    childNamed<QComboBox>(*w, "comboSubtitleMode")->setCurrentIndex(2);
    report(*w, 1500);
    report(*w, 2500);
    report(*w, 1000);
    report(*w, 1500);
    QCOMPARE(w->repeatSession()->repeatRound(), 1);
    QCOMPARE(w->subtitleItem()->toPlainText(), QString());

    childNamed<QComboBox>(*w, "comboSubtitleMode")->setCurrentIndex(3);
    childNamed<QComboBox>(*w, "comboSubtitleMode")->setCurrentIndex(2);
    QCOMPARE(w->repeatSession()->repeatRound(), 0);
    QCOMPARE(w->subtitleItem()->toPlainText(), QString("Sentence"));

    // The pass in progress is the first now: two more follow before the next sentence.
    report(*w, 2500);
    QCOMPARE(w->repeatSession()->repeatRound(), 1);
    report(*w, 1000);
    report(*w, 2500);
    QCOMPARE(w->repeatSession()->repeatRound(), 2);
    QCOMPARE(w->repeatSession()->currentSentence(), 0);
}

// "Never" hides the item; position reports inside the sentence must not bring it back,
// not even when the next sentence follows without a gap.
void tst_Overlay::neverModeStaysHidden()
{
    auto w = openWindow({"First", "Second"}, 0);
    QVERIFY(w);
    // Touching cues: the session never clears the text between them.
    QList<SubtitleItem> touching = w->repeatSession()->sentences();
    touching[1].startMs = 2000;
    w->repeatSession()->setSentenceTimes(touching);
    report(*w, 1500);
    QCOMPARE(w->subtitleItem()->toPlainText(), QString("First"));
    QVERIFY(w->subtitleItem()->isVisible());

    childNamed<QComboBox>(*w, "comboSubtitleMode")->setCurrentIndex(1);
    QVERIFY(!w->subtitleItem()->isVisible());
    report(*w, 1600);
    QVERIFY(!w->subtitleItem()->isVisible());
    report(*w, 2500);
    QCOMPARE(w->repeatSession()->currentSentence(), 1);
    QVERIFY(!w->subtitleItem()->isVisible());

    childNamed<QComboBox>(*w, "comboSubtitleMode")->setCurrentIndex(0);
    QVERIFY(w->subtitleItem()->isVisible());
    QCOMPARE(w->subtitleItem()->toPlainText(), QString("Second"));
}

void tst_Overlay::chineseFilter_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("shown");
    QTest::newRow("two lines") << "Hello\n你好"
                               << "Hello";
    QTest::newRow("Chinese first") << "你好\nHello"
                                   << "Hello";
    QTest::newRow("only Chinese") << "你好\n世界"
                                  << "";
    QTest::newRow("blank line between") << "Hello\n\n你好"
                                        << "Hello";
    QTest::newRow("CR LF") << "Hello\r\n你好"
                           << "Hello";
    QTest::newRow("trailing break kept") << "Hello\n你好\n"
                                         << "Hello\n";
    QTest::newRow("mixed line dropped") << "I said 你好\nHi"
                                        << "Hi";
    QTest::newRow("kana is not an ideograph") << "こんにちは\n你好"
                                              << "こんにちは";
    QTest::newRow("ideograph above the class") << "\u9fa6\n你好"
                                               << "\u9fa6";
}

void tst_Overlay::chineseFilter()
{
    QFETCH(QString, text);
    QFETCH(QString, shown);
    QCOMPARE(ChineseLines::removedFrom(text), shown);
}

void tst_Overlay::filterButton_data()
{
    QTest::addColumn<QStringList>("texts");
    QTest::addColumn<bool>("visible");
    QTest::newRow("no Chinese") << QStringList{"Hello", "World"} << false;
    QTest::newRow("Chinese in a later cue") << QStringList{"Hello", "World\n世界"} << true;
}

void tst_Overlay::filterButton()
{
    QFETCH(QStringList, texts);
    QFETCH(bool, visible);
    auto w = openWindow(texts, 1);
    QVERIFY(w);
    QCOMPARE(!childNamed<QPushButton>(*w, "btnFilterChinese")->isHidden(), visible);

    PlayerWindowTest::goTo(*w, int(texts.size()) - 1);
    const QString unfiltered = w->subtitleItem()->toPlainText();
    childNamed<QPushButton>(*w, "btnFilterChinese")->click();
    QVERIFY(w->repeatSession()->chineseLinesHidden());
    QCOMPARE(childNamed<QPushButton>(*w, "btnFilterChinese")->text(), QString("中文:关"));
    QCOMPARE(w->subtitleItem()->toPlainText(), visible ? QString("World") : unfiltered);
    QCOMPARE(!childNamed<QPushButton>(*w, "btnFilterChinese")->isHidden(), visible);
    childNamed<QPushButton>(*w, "btnFilterChinese")->click();
    QVERIFY(!w->repeatSession()->chineseLinesHidden());
    QCOMPARE(childNamed<QPushButton>(*w, "btnFilterChinese")->text(), QString("中文:开"));
    QCOMPARE(w->subtitleItem()->toPlainText(), unfiltered);
}

QTEST_MAIN(tst_Overlay)
#include "tst_overlay.moc"
