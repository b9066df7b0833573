#include "core/groups/group2store.h"
#include "gui/player/subtitlebrowser.h"
#include "gui/player/playerwindow.h"
#include "testsupport.h"

#include <QListWidget>
#include <QPointer>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>

using IndexList = QList<int>;

class tst_SubtitleBrowser : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void everySentenceStartsOnTheLeft();
    void storedGroupIsApplied_data();
    void storedGroupIsApplied();
    void hundredFromCurrentRow_data();
    void hundredFromCurrentRow();
    void hundredNeedsASelection();
    void shortSentencesGoRight_data();
    void shortSentencesGoRight();
    void itemMovedBackLandsAtItsIndex();
    void clearReachesPlayerAndStoreByCloseButton_data();
    void clearReachesPlayerAndStoreByCloseButton();
    void sentenceAddedByPlayerReachesOpenDialogs();
    void moveButtonFollowsLastSelectedList();
    void browseButtonOpensOneDialogPerClick();

private:
    static QList<SubtitleItem> sentences(int count, const QString &text = QString("sentence"));
    static IndexList indexes(const QListWidget *list);
    static IndexList range(int first, int last);
    static void clickRow(QListWidget *list, int row, Qt::KeyboardModifiers modifiers = {});
    // The dialog's controls, found by name: group 1 on the left, group 2 on the right.
    static QListWidget *leftList(const SubtitleBrowser &browser)
    {
        return childNamed<QListWidget>(browser, "leftList");
    }
    static QListWidget *rightList(const SubtitleBrowser &browser)
    {
        return childNamed<QListWidget>(browser, "rightList");
    }
    static QPushButton *button(const SubtitleBrowser &browser, const char *name)
    {
        return childNamed<QPushButton>(browser, name);
    }
    QTemporaryDir settingsDir;
};

void tst_SubtitleBrowser::initTestCase()
{
    QVERIFY(settingsDir.isValid());
    useTemporarySettings(settingsDir);
}

void tst_SubtitleBrowser::init()
{
    clearSettings();
}

QList<SubtitleItem> tst_SubtitleBrowser::sentences(int count, const QString &text)
{
    QList<SubtitleItem> items;
    for (int i = 0; i < count; ++i)
        items.append({i, i * 2000, i * 2000 + 1500, QString("%1 %2").arg(text).arg(i)});
    return items;
}

IndexList tst_SubtitleBrowser::indexes(const QListWidget *list)
{
    IndexList result;
    for (int row = 0; row < list->count(); ++row)
        result.append(list->item(row)->data(Qt::UserRole).toInt());
    return result;
}

IndexList tst_SubtitleBrowser::range(int first, int last)
{
    IndexList result;
    for (int i = first; i <= last; ++i)
        result.append(i);
    return result;
}

void tst_SubtitleBrowser::clickRow(QListWidget *list, int row, Qt::KeyboardModifiers modifiers)
{
    QListWidgetItem *item = list->item(row);
    list->scrollToItem(item);
    QTest::mouseClick(list->viewport(), Qt::LeftButton, modifiers, list->visualItemRect(item).center());
}

void tst_SubtitleBrowser::everySentenceStartsOnTheLeft()
{
    SubtitleBrowser browser(nullptr);
    browser.setSubtitles(sentences(250));
    QCOMPARE(indexes(leftList(browser)), range(0, 249));
    QCOMPARE(leftList(browser)->item(0)->text(), QString("0 - sentence 0"));
    QCOMPARE(leftList(browser)->item(249)->text(), QString("249 - sentence 249"));
    QCOMPARE(rightList(browser)->count(), 0);
    QCOMPARE(button(browser, "btnMove")->text(), QString("移动"));
    QVERIFY(!button(browser, "btnMove")->isEnabled());
}

void tst_SubtitleBrowser::storedGroupIsApplied_data()
{
    QTest::addColumn<IndexList>("stored");
    QTest::addColumn<IndexList>("right");
    QTest::newRow("5, 3, 999 of 10") << IndexList{5, 3, 999} << IndexList{3, 5};
    QTest::newRow("duplicate and negative") << IndexList{7, -1, 7, 0} << IndexList{0, 7};
    QTest::newRow("every sentence") << range(0, 9) << range(0, 9);
}

void tst_SubtitleBrowser::storedGroupIsApplied()
{
    QFETCH(IndexList, stored);
    QFETCH(IndexList, right);
    Group2Store::write(stored);
    SubtitleBrowser browser(nullptr);
    browser.setSubtitles(sentences(10));
    QCOMPARE(indexes(rightList(browser)), right);
    IndexList left = range(0, 9);
    for (int index : right)
        left.removeOne(index);
    QCOMPARE(indexes(leftList(browser)), left);
}

void tst_SubtitleBrowser::hundredFromCurrentRow_data()
{
    QTest::addColumn<int>("count");
    QTest::addColumn<bool>("fromRight");
    QTest::addColumn<int>("row");
    QTest::addColumn<IndexList>("right");
    QTest::newRow("row 10 of 250") << 250 << false << 10 << range(10, 109);
    QTest::newRow("row 10 of 50") << 50 << false << 10 << range(10, 49);
    QTest::newRow("last row of 250") << 250 << false << 249 << IndexList{249};
    // All 150 start on the right; rows 20..119 go back, 0..19 and 120..149 stay.
    QTest::newRow("row 20 of a right list of 150") << 150 << true << 20 << range(0, 19) + range(120, 149);
}

void tst_SubtitleBrowser::hundredFromCurrentRow()
{
    QFETCH(int, count);
    QFETCH(bool, fromRight);
    QFETCH(int, row);
    QFETCH(IndexList, right);
    if (fromRight)
        Group2Store::write(range(0, count - 1));
    SubtitleBrowser browser(nullptr);
    browser.setSubtitles(sentences(count));
    browser.show();
    QVERIFY(QTest::qWaitForWindowExposed(&browser));

    clickRow(fromRight ? rightList(browser) : leftList(browser), row);
    QTest::mouseClick(button(browser, "btnHundred"), Qt::LeftButton);

    QCOMPARE(indexes(rightList(browser)), right);
    QCOMPARE(leftList(browser)->count() + rightList(browser)->count(), count);
    QTest::mouseClick(button(browser, "btnClose"), Qt::LeftButton);
    QCOMPARE(Group2Store::read(), right);
}

void tst_SubtitleBrowser::hundredNeedsASelection()
{
    SubtitleBrowser browser(nullptr);
    browser.setSubtitles(sentences(20));
    QTest::mouseClick(button(browser, "btnHundred"), Qt::LeftButton);
    QCOMPARE(rightList(browser)->count(), 0);
}

void tst_SubtitleBrowser::shortSentencesGoRight_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("moves");
    QTest::newRow("29 with blanks around") << "  \t" + QString(29, 'a') + " \n" << true;
    QTest::newRow("30 with blanks around") << "  " + QString(30, 'a') + "  " << false;
    QTest::newRow("29 Chinese") << QString(29, QChar(0x4E2D)) << true;
    QTest::newRow("blank inside counts") << QString(14, 'a') + " " + QString(15, 'b') << false;
    // One emoji is two UTF-16 code units: 28 letters and an emoji make 30.
    QTest::newRow("28 and a surrogate pair") << QString(28, 'a') + QString::fromUtf8("😀") << false;
}

void tst_SubtitleBrowser::shortSentencesGoRight()
{
    QFETCH(QString, text);
    QFETCH(bool, moves);
    QList<SubtitleItem> items = sentences(3, QString(40, 'x'));
    items[1].text = text;
    SubtitleBrowser browser(nullptr);
    browser.setSubtitles(items);
    QTest::mouseClick(button(browser, "btnShort"), Qt::LeftButton);
    QCOMPARE(indexes(rightList(browser)), (moves ? IndexList{1} : IndexList{}));
    QCOMPARE(indexes(leftList(browser)), (moves ? IndexList{0, 2} : IndexList{0, 1, 2}));
}

void tst_SubtitleBrowser::itemMovedBackLandsAtItsIndex()
{
    Group2Store::write({4, 8});
    SubtitleBrowser browser(nullptr);
    browser.setSubtitles(sentences(10));
    browser.show();
    QVERIFY(QTest::qWaitForWindowExposed(&browser));

    // A real double-click: the view only acts on the item its press went to.
    QListWidgetItem *item = rightList(browser)->item(0);
    const QPoint at = rightList(browser)->visualItemRect(item).center();
    QTest::mouseClick(rightList(browser)->viewport(), Qt::LeftButton, {}, at);
    QTest::mouseDClick(rightList(browser)->viewport(), Qt::LeftButton, {}, at);

    QCOMPARE(indexes(leftList(browser)), (IndexList{0, 1, 2, 3, 4, 5, 6, 7, 9}));
    QCOMPARE(leftList(browser)->item(4), item);
    QCOMPARE(item->text(), QString("4 - sentence 4"));
    QCOMPARE(indexes(rightList(browser)), IndexList{8});
}

void tst_SubtitleBrowser::clearReachesPlayerAndStoreByCloseButton_data()
{
    QTest::addColumn<QString>("closedBy");
    QTest::addColumn<IndexList>("storedAfter");
    QTest::addColumn<IndexList>("nextDialogRight");
    QTest::newRow("window close button") << "window" << IndexList{5, 2} << IndexList{2, 5};
    QTest::newRow("关闭") << "关闭" << IndexList{} << IndexList{};
    // Escape dismisses the dialog as the window's own close button does.
    QTest::newRow("Escape") << "Escape" << IndexList{5, 2} << IndexList{2, 5};
}

// The player always gets the cleared groups; only "关闭" also clears the store.
void tst_SubtitleBrowser::clearReachesPlayerAndStoreByCloseButton()
{
    QFETCH(QString, closedBy);
    QFETCH(IndexList, storedAfter);
    QFETCH(IndexList, nextDialogRight);
    Group2Store::write({5, 2});
    PlayerWindow window(nullptr, QString());
    window.repeatSession()->setSentences(sentences(8), Group2Store::read());
    childNamed<QPushButton>(window, "btnBrowseSubtitles")->click();
    auto *browser = window.findChild<SubtitleBrowser *>();
    QVERIFY(browser);
    QCOMPARE(indexes(rightList(*browser)), (IndexList{2, 5}));
    QSignalSpy updated(browser, &SubtitleBrowser::groupsUpdated);

    QTest::mouseClick(button(*browser, "btnClear"), Qt::LeftButton);
    QCOMPARE(updated.count(), 0);
    QCOMPARE(Group2Store::read(), (IndexList{5, 2}));
    if (closedBy == "关闭")
        QTest::mouseClick(button(*browser, "btnClose"), Qt::LeftButton);
    else if (closedBy == "Escape")
        QTest::keyClick(leftList(*browser), Qt::Key_Escape);
    else
        QVERIFY(browser->close());

    QCOMPARE(updated.count(), 1);
    QCOMPARE(updated.at(0).at(0).value<IndexList>(), range(0, 7));
    QCOMPARE(updated.at(0).at(1).value<IndexList>(), IndexList{});
    QVERIFY(!browser->isVisible());
    QCOMPARE(window.repeatSession()->group1(), range(0, 7));
    QCOMPARE(window.repeatSession()->group2(), IndexList{});
    QCOMPARE(Group2Store::read(), storedAfter);

    childNamed<QPushButton>(window, "btnBrowseSubtitles")->click();
    const auto browsers = window.findChildren<SubtitleBrowser *>();
    QCOMPARE(browsers.size(), 2);
    QCOMPARE(indexes(rightList(*browsers.last())), nextDialogRight);
}

// Every open dialog takes in a sentence the player puts into group 2 (F12, "加入组2"), so
// that closing it does not hand back a group 2 without it.
void tst_SubtitleBrowser::sentenceAddedByPlayerReachesOpenDialogs()
{
    Group2Store::write({5});
    PlayerWindow window(nullptr, QString());
    window.repeatSession()->setPlayMode(PlayMode::Repeat);
    window.repeatSession()->setSentences(sentences(8), Group2Store::read());
    childNamed<QPushButton>(window, "btnBrowseSubtitles")->click();
    childNamed<QPushButton>(window, "btnBrowseSubtitles")->click();
    const auto browsers = window.findChildren<SubtitleBrowser *>();
    QCOMPARE(browsers.size(), 2);

    window.repeatSession()->seekTo(sentences(8).at(3).startMs);
    window.repeatSession()->skip();
    for (SubtitleBrowser *browser : browsers) {
        QCOMPARE(indexes(rightList(*browser)), (IndexList{3, 5}));
        QCOMPARE(indexes(leftList(*browser)), (IndexList{0, 1, 2, 4, 6, 7}));
    }
    QVERIFY(browsers.first()->close());
    QCOMPARE(window.repeatSession()->group2(), (IndexList{3, 5}));
    QTest::mouseClick(button(*browsers.last(), "btnClose"), Qt::LeftButton);
    QCOMPARE(window.repeatSession()->group2(), (IndexList{3, 5}));
    QCOMPARE(Group2Store::read(), (IndexList{3, 5}));
}

void tst_SubtitleBrowser::moveButtonFollowsLastSelectedList()
{
    Group2Store::write({7, 8});
    SubtitleBrowser browser(nullptr);
    browser.setSubtitles(sentences(10));
    browser.show();
    QVERIFY(QTest::qWaitForWindowExposed(&browser));

    clickRow(leftList(browser), 1);
    clickRow(leftList(browser), 2, Qt::ControlModifier);
    QCOMPARE(button(browser, "btnMove")->text(), QString("→"));
    QVERIFY(button(browser, "btnMove")->isEnabled());

    clickRow(rightList(browser), 0);
    QCOMPARE(leftList(browser)->selectedItems().size(), 2);
    QCOMPARE(button(browser, "btnMove")->text(), QString("←"));
    QTest::mouseClick(button(browser, "btnMove"), Qt::LeftButton);

    QCOMPARE(indexes(rightList(browser)), IndexList{8});
    QCOMPARE(indexes(leftList(browser)), (IndexList{0, 1, 2, 3, 4, 5, 6, 7, 9}));
    QVERIFY(!button(browser, "btnMove")->isEnabled());
    QCOMPARE(button(browser, "btnMove")->text(), QString());

    clickRow(leftList(browser), 0);
    clickRow(leftList(browser), 2, Qt::ShiftModifier);
    QTest::mouseClick(button(browser, "btnMove"), Qt::LeftButton);
    QCOMPARE(indexes(rightList(browser)), (IndexList{0, 1, 2, 8}));
}

void tst_SubtitleBrowser::browseButtonOpensOneDialogPerClick()
{
    PlayerWindow window(nullptr, QString());
    QTest::mouseClick(childNamed<QPushButton>(window, "btnBrowseSubtitles"), Qt::LeftButton);
    QVERIFY(window.findChildren<SubtitleBrowser *>().isEmpty());

    window.repeatSession()->setSentences(sentences(3), {});
    QTest::mouseClick(childNamed<QPushButton>(window, "btnBrowseSubtitles"), Qt::LeftButton);
    QTest::mouseClick(childNamed<QPushButton>(window, "btnBrowseSubtitles"), Qt::LeftButton);
    const auto browsers = window.findChildren<SubtitleBrowser *>();
    QCOMPARE(browsers.size(), 2);
    for (SubtitleBrowser *browser : browsers) {
        QVERIFY(browser->isVisible());
        QVERIFY(!browser->isModal());
        QCOMPARE(browser->windowTitle(), QString("浏览字幕"));
        QCOMPARE(indexes(leftList(*browser)), range(0, 2));
    }
    QPointer<SubtitleBrowser> closed = browsers.first();
    closed->close();
    QCoreApplication::processEvents();
    QVERIFY(closed);
    QVERIFY(!closed->isVisible());
}

QTEST_MAIN(tst_SubtitleBrowser)
#include "tst_subtitlebrowser.moc"
