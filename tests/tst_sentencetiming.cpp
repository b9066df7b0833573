#include "core/drill/sentencetiming.h"

#include <QTest>

// The timing arithmetic behind the repeat engine: lead-in, tail, and which sentence a time is in.

namespace {

SubtitleItem cue(int index, qint64 start, qint64 end)
{
    return SubtitleItem{index, start, end, QString("sentence %1").arg(index)};
}

// Cues from (start, end) pairs, indexed in order.
QList<SubtitleItem> cues(const QList<QPair<qint64, qint64>> &times)
{
    QList<SubtitleItem> items;
    for (const auto &[start, end] : times)
        items << cue(int(items.size()), start, end);
    return items;
}

} // namespace

using Times = QList<QPair<qint64, qint64>>;

class tst_SentenceTiming : public QObject
{
    Q_OBJECT

private slots:
    void leadStart_data();
    void leadStart();
    void tailMargin_data();
    void tailMargin();
    void endReachedAt_data();
    void endReachedAt();
    void indexAt_data();
    void indexAt();
    void nearestMember_data();
    void nearestMember();
    void formatTime_data();
    void formatTime();
};

void tst_SentenceTiming::leadStart_data()
{
    QTest::addColumn<Times>("times");
    QTest::addColumn<int>("index");
    QTest::addColumn<qint64>("expected");
    QTest::newRow("gap 600: 70 % of it") << Times{{0, 2000}, {2600, 4000}} << 1 << qint64(2180);
    QTest::newRow("gap 3000: 500") << Times{{0, 2000}, {5000, 7000}} << 1 << qint64(4500);
    QTest::newRow("gap 999: 699") << Times{{0, 2000}, {2999, 4000}} << 1 << qint64(2999 - 699);
    QTest::newRow("gap 1000: 500") << Times{{0, 2000}, {3000, 4000}} << 1 << qint64(2500);
    QTest::newRow("gap 1 rounds down to 0") << Times{{0, 2000}, {2001, 4000}} << 1 << qint64(2001);
    QTest::newRow("touching cues") << Times{{0, 2000}, {2000, 4000}} << 1 << qint64(2000);
    QTest::newRow("overlap: previous end") << Times{{0, 3000}, {2500, 4000}} << 1 << qint64(3000);
    QTest::newRow("first at 300: not below 0") << Times{{300, 2000}} << 0 << qint64(0);
    QTest::newRow("first at 1800") << Times{{1800, 3000}} << 0 << qint64(1300);
    QTest::newRow("index past the end") << Times{{1800, 3000}} << 1 << qint64(0);
    QTest::newRow("negative index") << Times{{1800, 3000}} << -1 << qint64(0);
    QTest::newRow("empty list") << Times{} << 0 << qint64(0);
}

void tst_SentenceTiming::leadStart()
{
    QFETCH(Times, times);
    QFETCH(int, index);
    QFETCH(qint64, expected);
    QCOMPARE(SentenceTiming::leadStart(cues(times), index), expected);
}

void tst_SentenceTiming::tailMargin_data()
{
    QTest::addColumn<Times>("times");
    QTest::addColumn<int>("index");
    QTest::addColumn<qint64>("expected");
    QTest::newRow("gap 600") << Times{{0, 2000}, {2600, 4000}} << 0 << qint64(420);
    QTest::newRow("gap 3000") << Times{{0, 2000}, {5000, 7000}} << 0 << qint64(500);
    QTest::newRow("gap 800") << Times{{0, 2000}, {2800, 4000}} << 0 << qint64(560);
    QTest::newRow("overlap") << Times{{0, 3000}, {2500, 4000}} << 0 << qint64(0);
    QTest::newRow("touching") << Times{{0, 3000}, {3000, 4000}} << 0 << qint64(0);
    QTest::newRow("last sentence") << Times{{0, 2000}, {2600, 4000}} << 1 << qint64(500);
    QTest::newRow("beyond the last") << Times{{0, 2000}} << 5 << qint64(500);
}

void tst_SentenceTiming::tailMargin()
{
    QFETCH(Times, times);
    QFETCH(int, index);
    QFETCH(qint64, expected);
    QCOMPARE(SentenceTiming::tailMargin(cues(times), index), expected);
}

void tst_SentenceTiming::endReachedAt_data()
{
    QTest::addColumn<Times>("times");
    QTest::addColumn<int>("index");
    QTest::addColumn<qint64>("expected");
    QTest::newRow("gap 600") << Times{{0, 2000}, {2600, 4000}} << 0 << qint64(2405);
    QTest::newRow("gap 3000") << Times{{0, 2000}, {5000, 7000}} << 0 << qint64(2485);
    QTest::newRow("overlap") << Times{{0, 3000}, {2500, 4000}} << 0 << qint64(2985);
    QTest::newRow("last sentence") << Times{{0, 2000}, {2600, 4000}} << 1 << qint64(4485);
}

void tst_SentenceTiming::endReachedAt()
{
    QFETCH(Times, times);
    QFETCH(int, index);
    QFETCH(qint64, expected);
    QCOMPARE(SentenceTiming::endReachedAt(cues(times), index), expected);
}

void tst_SentenceTiming::indexAt_data()
{
    const Times three{{1000, 2000}, {3000, 4000}, {5000, 6000}};
    QTest::addColumn<Times>("times");
    QTest::addColumn<qint64>("position");
    QTest::addColumn<int>("expected");
    QTest::newRow("empty") << Times{} << qint64(0) << -1;
    QTest::newRow("before the first") << three << qint64(999) << -1;
    QTest::newRow("first start") << three << qint64(1000) << 0;
    QTest::newRow("gap after the first") << three << qint64(2500) << 0;
    QTest::newRow("middle start") << three << qint64(3000) << 1;
    QTest::newRow("just before the last") << three << qint64(4999) << 1;
    QTest::newRow("last") << three << qint64(5000) << 2;
    QTest::newRow("after the end") << three << qint64(100000) << 2;
    QTest::newRow("equal starts: the later cue") << Times{{1000, 2000}, {1000, 1500}} << qint64(1200) << 1;
}

void tst_SentenceTiming::indexAt()
{
    QFETCH(Times, times);
    QFETCH(qint64, position);
    QFETCH(int, expected);
    QCOMPARE(SentenceTiming::indexAt(cues(times), position), expected);
}

void tst_SentenceTiming::nearestMember_data()
{
    const Times four{{0, 1000}, {2000, 3000}, {4000, 5000}, {6000, 7000}};
    QTest::addColumn<Times>("times");
    QTest::addColumn<QList<int>>("playList");
    QTest::addColumn<qint64>("position");
    QTest::addColumn<int>("expected");
    QTest::newRow("inside a member") << four << QList<int>{0, 2} << qint64(4500) << 2;
    QTest::newRow("closer to the later start") << four << QList<int>{0, 3} << qint64(4500) << 3;
    QTest::newRow("closer to the earlier end") << four << QList<int>{0, 3} << qint64(2400) << 0;
    QTest::newRow("tie: earlier in list order") << four << QList<int>{3, 0} << qint64(3500) << 3;
    QTest::newRow("outside indices skipped") << four << QList<int>{99, -1, 1} << qint64(6500) << 1;
    QTest::newRow("none qualifies") << four << QList<int>{99} << qint64(0) << -1;
}

void tst_SentenceTiming::nearestMember()
{
    QFETCH(Times, times);
    QFETCH(QList<int>, playList);
    QFETCH(qint64, position);
    QFETCH(int, expected);
    QCOMPARE(SentenceTiming::nearestMember(cues(times), playList, position), expected);
}

void tst_SentenceTiming::formatTime_data()
{
    QTest::addColumn<qint64>("ms");
    QTest::addColumn<QString>("expected");
    QTest::newRow("zero") << qint64(0) << "00:00";
    QTest::newRow("59 999 ms") << qint64(59999) << "00:59";
    QTest::newRow("one minute five") << qint64(65000) << "01:05";
    QTest::newRow("just under an hour") << qint64(3599999) << "59:59";
    QTest::newRow("one hour") << qint64(3600000) << "01:00:00";
    QTest::newRow("83 456 ms") << qint64(83456) << "01:23";
    QTest::newRow("100 hours") << qint64(360000000) << "100:00:00";
}

void tst_SentenceTiming::formatTime()
{
    QFETCH(qint64, ms);
    QFETCH(QString, expected);
    QCOMPARE(SentenceTiming::formatTime(ms), expected);
}

QTEST_APPLESS_MAIN(tst_SentenceTiming)
#include "tst_sentencetiming.moc"
