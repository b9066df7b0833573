#include "core/subtitles/srtparser.h"

#include <QDir>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QStandardPaths>
#include <QStringEncoder>
#include <QTemporaryDir>
#include <QTest>
#include <QtConcurrent>

namespace {

// One cue as "index startMs endMs text", so that whole results compare in one QCOMPARE.
QStringList describe(const QList<SubtitleItem> &items)
{
    QStringList lines;
    for (const SubtitleItem &item : items)
        lines << QString("%1 %2 %3 %4").arg(item.index).arg(item.startMs).arg(item.endMs).arg(item.text);
    return lines;
}

QString writeFile(const QTemporaryDir &dir, const QString &name, const QByteArray &bytes)
{
    const QString path = dir.filePath(name);
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size())
        return {};
    return path;
}

// Collects the debug lines written while it lives.
class MessageCapture
{
public:
    MessageCapture() { previous = qInstallMessageHandler(&MessageCapture::handle); }
    ~MessageCapture() { qInstallMessageHandler(previous); }
    static QStringList &lines()
    {
        static QStringList captured;
        return captured;
    }

private:
    static void handle(QtMsgType, const QMessageLogContext &, const QString &message) { lines() << message; }
    QtMessageHandler previous = nullptr;
};

// GBK bytes made by the system's iconv, the way a learner's subtitle usually arrives.
QByteArray toGbkWithIconv(const QString &text)
{
    const QString iconv = QStandardPaths::findExecutable("iconv");
    if (iconv.isEmpty())
        return {};
    QProcess process;
    process.start(iconv, {"-f", "UTF-8", "-t", "GBK"});
    if (!process.waitForStarted())
        return {};
    process.write(text.toUtf8());
    process.closeWriteChannel();
    if (!process.waitForFinished() || process.exitCode() != 0)
        return {};
    return process.readAllStandardOutput();
}

// The text as a tool writes it in a Unicode encoding, with its byte-order mark.
QByteArray withByteOrderMark(QStringConverter::Encoding encoding, const QByteArray &utf8)
{
    QStringEncoder encoder(encoding, QStringEncoder::Flag::WriteBom);
    return encoder.encode(QString::fromUtf8(utf8));
}

const QByteArray cueOne = "1\n00:00:01,000 --> 00:00:02,000\n";
const QByteArray cueTwo = "2\n00:00:03,000 --> 00:00:04,000\n";
const QByteArray cueThree = "3\n00:00:05,000 --> 00:00:06,000\n";

} // namespace

class tst_SrtParser : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void firstUseFromSeveralThreads();
    void parseBlocks_data();
    void parseBlocks();
    void parseTime_data();
    void parseTime();
    void gbkFileIsReadAsChinese_data();
    void gbkFileIsReadAsChinese();
    void validUtf8WithReplacementCharacterStaysUtf8();
    void pathsWithSpacesAndChinese_data();
    void pathsWithSpacesAndChinese();
    void dumpToolPrintsOneJsonObjectPerCue();
    void missingFileLogsOnce();
    void emptyFileLogsNothing_data();
    void emptyFileLogsNothing();

private:
    QTemporaryDir dir;
};

void tst_SrtParser::initTestCase()
{
    QVERIFY(dir.isValid());
}

// The cleaning patterns are created on first use; several threads meeting there at once
// must all get the same, complete result.
void tst_SrtParser::firstUseFromSeveralThreads()
{
    QByteArray content;
    for (int i = 1; i <= 200; ++i)
        content += QByteArray::number(i) + "\n00:00:01,000 --> 00:00:02,000\n<i>line</i> {\\an8}" +
                   QByteArray::number(i) + "\n\n";
    const QString path = writeFile(dir, "threads.srt", content);
    QVERIFY(!path.isEmpty());
    const QList<int> runs{0, 1, 2, 3, 4, 5, 6, 7};
    const QList<QStringList> results =
        QtConcurrent::blockingMapped(runs, [&path](int) { return describe(parseSrtFile(path)); });
    QCOMPARE(results.first().size(), 200);
    QCOMPARE(results.first().last(), QString("199 1000 2000 line 200"));
    for (const QStringList &result : results)
        QCOMPARE(result, results.first());
}

void tst_SrtParser::parseBlocks_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QStringList>("expected");

    QTest::newRow("empty file") << QByteArray() << QStringList();
    QTest::newRow("utf-8 byte-order mark before the first number") << "\xEF\xBB\xBF" + cueOne + "Hello\n"
                                                                   << QStringList{"0 1000 2000 Hello"};
    const QByteArray unicode = cueOne + "你好 hello\r\n\r\n" + cueTwo + "第二句";
    const QStringList unicodeCues{"0 1000 2000 你好 hello", "1 3000 4000 第二句"};
    QTest::newRow("utf-16 le named by its byte-order mark")
        << withByteOrderMark(QStringConverter::Utf16LE, unicode) << unicodeCues;
    QTest::newRow("utf-16 be named by its byte-order mark")
        << withByteOrderMark(QStringConverter::Utf16BE, unicode) << unicodeCues;
    QTest::newRow("utf-32 le named by its byte-order mark")
        << withByteOrderMark(QStringConverter::Utf32LE, unicode) << unicodeCues;
    QTest::newRow("utf-32 be named by its byte-order mark")
        << withByteOrderMark(QStringConverter::Utf32BE, unicode) << unicodeCues;
    QTest::newRow("cue numbers 7 8 9 give 0 1 2")
        << QByteArray("7\n00:00:01,000 --> 00:00:02,000\nA\n\n8\n00:00:03,000 --> 00:00:04,000\nB\n\n"
                      "9\n00:00:05,000 --> 00:00:06,000\nC\n")
        << QStringList{"0 1000 2000 A", "1 3000 4000 B", "2 5000 6000 C"};
    QTest::newRow("rejected [Music] leaves no gap")
        << cueOne + "Before\n\n" + cueTwo + "[Music]\n\n" + cueThree + "After\n"
        << QStringList{"0 1000 2000 Before", "1 5000 6000 After"};
    QTest::newRow("time line without spaces drops the block")
        << "1\n00:00:01,000-->00:00:02,000\nLost\n\n" + cueTwo + "Kept\n"
        << QStringList{"0 3000 4000 Kept"};
    QTest::newRow("position coordinates after the end stamp")
        << QByteArray("1\n00:00:01,000 --> 00:00:02,000 X1:100 X2:500\nHi\n") << QStringList{"0 1000 0 Hi"};
    QTest::newRow("two blocks without a blank line become one cue")
        << cueOne + "Hello\n" + cueTwo + "World\n"
        << QStringList{"0 1000 2000 Hello\n2\n00:00:03,000 --> 00:00:04,000\nWorld"};
    QTest::newRow("italics, hard break and position code") << cueOne + "<i>Hello</i>\\N{\\an8}world\n"
                                                           << QStringList{"0 1000 2000 Hello\nworld"};
    QTest::newRow("lower-case soft break") << cueOne + "one\\ntwo\n" << QStringList{"0 1000 2000 one\ntwo"};
    QTest::newRow("(applause) dropped") << cueOne + "(applause)\n" << QStringList();
    QTest::newRow("[laughs] dropped") << cueOne + "[laughs]\n" << QStringList();
    QTest::newRow("(A) and B kept") << cueOne + "(A) and B\n" << QStringList{"0 1000 2000 (A) and B"};
    QTest::newRow("bracketed first line then speech kept")
        << cueOne + "(laughs)\nThat was good.\n"
        << QStringList{"0 1000 2000 (laughs)\nThat was good."};
    QTest::newRow("whole text in brackets across lines dropped") << cueOne + "(laughs)\nspeech (quietly)\n"
                                                                 << QStringList();
    QTest::newRow("tags only cleans to empty") << cueOne + "<b></b>\n {\\an8} \n" << QStringList();
    QTest::newRow("last cue without trailing newline")
        << cueOne + "First\n\n" + cueTwo + "Last" << QStringList{"0 1000 2000 First", "1 3000 4000 Last"};
    QTest::newRow("crlf line endings")
        << QByteArray("1\r\n00:00:01,000 --> 00:00:02,000\r\nOne\r\nTwo\r\n\r\n2\r\n00:00:03,000 --> "
                      "00:00:04,000\r\n"
                      "Three\r\n")
        << QStringList{"0 1000 2000 One\nTwo", "1 3000 4000 Three"};
    QTest::newRow("lone cr inside a line splits it") << cueOne + "One\rTwo\n"
                                                     << QStringList{"0 1000 2000 One\nTwo"};
    QTest::newRow("stray text between blocks skipped")
        << "Created by someone\n\n" + cueOne + "A\n\nnoise\n" + cueTwo + "B\n"
        << QStringList{"0 1000 2000 A", "1 3000 4000 B"};
    QTest::newRow("abandoned block resumes after its time line") << "1\nnot a time line\n" + cueTwo + "B\n"
                                                                 << QStringList{"0 3000 4000 B"};
    QTest::newRow("cue number beyond 32 bits is not a number")
        << QByteArray("99999999999\n00:00:01,000 --> 00:00:02,000\nNo\n") << QStringList();
    QTest::newRow("number at the very end") << cueOne + "A\n\n2\n" << QStringList{"0 1000 2000 A"};
    QTest::newRow("indented number and time line")
        << QByteArray("  1  \n  00:00:01,000 --> 00:00:02,000  \n  spaced  \n")
        << QStringList{"0 1000 2000 spaced"};
    QTest::newRow("out of order cues keep file order")
        << cueTwo + "Later\n\n" + cueOne + "Earlier\n"
        << QStringList{"0 3000 4000 Later", "1 1000 2000 Earlier"};
    QTest::newRow("less-than that opens no tag stays") << cueOne + "a < b <3 x\n"
                                                       << QStringList{"0 1000 2000 a < b <3 x"};
    QTest::newRow("tag with space after the angle bracket") << cueOne + "< i>x</ i>\n"
                                                            << QStringList{"0 1000 2000 x"};
    QTest::newRow("font tag spanning two lines") << cueOne + "<font\ncolor=red>Red</font>\n"
                                                 << QStringList{"0 1000 2000 Red"};
    QTest::newRow("nested braces lose only the inner group") << cueOne + "{a{b}c}text\n"
                                                             << QStringList{"0 1000 2000 {ac}text"};
    QTest::newRow("chinese and english lines") << cueOne + "你好，世界\n Hello world \n"
                                               << QStringList{"0 1000 2000 你好，世界\nHello world"};
    QTest::newRow("webvtt cues with numbers saved as srt")
        << QByteArray(
               "WEBVTT\n\n1\n00:00:01.000 --> 00:00:02.500\nHi\n\n2\n00:00:03.000 --> 00:00:04.000\nYo\n")
        << QStringList{"0 1000 2500 Hi", "1 3000 4000 Yo"};
    QTest::newRow("ideographic spaces trimmed") << cueOne + QString("\u3000中文\u3000").toUtf8() + "\n"
                                                << QStringList{"0 1000 2000 中文"};
}

void tst_SrtParser::parseBlocks()
{
    QFETCH(QByteArray, content);
    QFETCH(QStringList, expected);
    const QString path =
        writeFile(dir, QString("%1.srt").arg(QTest::currentDataTag()).replace('/', '_'), content);
    QVERIFY(!path.isEmpty());
    QCOMPARE(describe(parseSrtFile(path)), expected);
    QCOMPARE(describe(parseSrtBytes(content)), expected);
}

void tst_SrtParser::parseTime_data()
{
    QTest::addColumn<QString>("stamp");
    QTest::addColumn<qint64>("expected");

    QTest::newRow("ordinary") << "01:02:03,004" << qint64(3723004);
    QTest::newRow("milliseconds piece is an integer") << "00:00:01,5" << qint64(1005);
    QTest::newRow("no milliseconds") << "1:2:3" << qint64(3723000);
    QTest::newRow("period before the milliseconds") << "01:02:03.500" << qint64(3723500);
    QTest::newRow("two parts") << "00:01" << qint64(0);
    QTest::newRow("four parts") << "00:00:02,000 X1:100 X2:500" << qint64(0);
    QTest::newRow("empty") << "" << qint64(0);
    QTest::newRow("unreadable hours count as 0") << "aa:01:02,003" << qint64(62003);
    QTest::newRow("second comma ends the milliseconds") << "00:00:01,000,999" << qint64(1000);
    QTest::newRow("negative hours") << "-1:00:00,000" << qint64(-3600000);
    QTest::newRow("595 hours as before") << "595:59:59,999" << qint64(2145599999);
    QTest::newRow("596 hours no longer wraps") << "596:31:23,648" << qint64(2147483648);
    QTest::newRow("largest hours") << "2147483647:59:59,999" << qint64(7730941132799999);
}

void tst_SrtParser::parseTime()
{
    QFETCH(QString, stamp);
    QFETCH(qint64, expected);
    QCOMPARE(parseSrtTime(stamp), expected);
}

void tst_SrtParser::gbkFileIsReadAsChinese_data()
{
    QTest::addColumn<QByteArray>("gbk");
    QTest::addColumn<QString>("text");

    // The bytes E0 B8 are "喔" in GBK and an unfinished character in UTF-8.
    QTest::newRow("ends inside a UTF-8 character, no final newline")
        << QByteArray(cueOne + "Good night \xE0\xB8") << QString("Good night 喔");
    const QString text = "第一句：你好\nSecond line";
    const QByteArray fromIconv = toGbkWithIconv(cueOne + text);
    if (fromIconv.isEmpty())
        QSKIP("iconv cannot convert to GBK here");
    QTest::newRow("iconv") << fromIconv << text;
    QStringEncoder gbk("GBK");
    if (gbk.isValid())
        QTest::newRow("QStringEncoder") << QByteArray(cueOne + QByteArray(gbk.encode(text))) << text;
}

void tst_SrtParser::gbkFileIsReadAsChinese()
{
    QFETCH(QByteArray, gbk);
    QFETCH(QString, text);
    QVERIFY(QString::fromUtf8(gbk).contains(QChar::ReplacementCharacter)); // really not UTF-8
    const QString path = writeFile(dir, "gbk.srt", gbk);
    QCOMPARE(describe(parseSrtFile(path)), QStringList{"0 1000 2000 " + text});
}

// A file that is valid UTF-8 keeps its text even if it holds a replacement character.
void tst_SrtParser::validUtf8WithReplacementCharacterStaysUtf8()
{
    const QString text = "坏字\uFFFD之后的中文";
    const QString path = writeFile(dir, "fffd.srt", cueOne + text.toUtf8() + "\n");
    QCOMPARE(describe(parseSrtFile(path)), QStringList{"0 1000 2000 " + text});
}

void tst_SrtParser::pathsWithSpacesAndChinese_data()
{
    QTest::addColumn<QString>("name");
    QTest::newRow("ascii") << "lesson.srt";
    QTest::newRow("spaces and quotes") << "my 'first' lesson.srt";
    QTest::newRow("chinese") << "第一课 字幕.srt";
}

void tst_SrtParser::pathsWithSpacesAndChinese()
{
    QFETCH(QString, name);
    const QString path = writeFile(dir, name, cueOne + "Hi\n");
    QVERIFY(!path.isEmpty());
    QCOMPARE(describe(parseSrtFile(path)), QStringList{"0 1000 2000 Hi"});
}

// The dump tool must give back exactly the text the reader made, however it has to be escaped.
void tst_SrtParser::dumpToolPrintsOneJsonObjectPerCue()
{
    const QString tool =
        QDir(qEnvironmentVariable("ORVILOOP_BUILD_DIR", QCoreApplication::applicationDirPath()))
            .filePath("orviloop-srtdump");
    QVERIFY2(QFileInfo(tool).isExecutable(), qPrintable(tool));
    const QString text = "She said \"hi\" \\ back\tslash\u0001\n第二行";
    const QString path = writeFile(
        dir, "转储 dump.srt", cueOne + text.toUtf8() + "\n\n" + cueTwo + "[Music]\n\n" + cueThree + "end");
    QProcess process;
    process.start(tool, {path});
    QVERIFY(process.waitForFinished());
    QCOMPARE(process.exitCode(), 0);
    const QList<QByteArray> lines = process.readAllStandardOutput().split('\n');
    QCOMPARE(lines.size(), 3); // two cues and the empty piece after the last line feed
    QVERIFY(lines.last().isEmpty());
    const QJsonObject first = QJsonDocument::fromJson(lines.at(0)).object();
    QCOMPARE(first.value("index").toInt(-1), 0);
    QCOMPARE(first.value("startMs").toInteger(), qint64(1000));
    QCOMPARE(first.value("endMs").toInteger(), qint64(2000));
    QCOMPARE(first.value("text").toString(), text);
    QVERIFY(lines.at(0).startsWith("{\"index\":0,\"startMs\":1000,\"endMs\":2000,\"text\":"));
    const QJsonObject second = QJsonDocument::fromJson(lines.at(1)).object();
    QCOMPARE(second.value("index").toInt(-1), 1);
    QCOMPARE(second.value("text").toString(), QString("end"));

    process.start(tool, {dir.filePath("missing.srt")});
    QVERIFY(process.waitForFinished());
    QCOMPARE(process.exitCode(), 1);
}

void tst_SrtParser::missingFileLogsOnce()
{
    const QString path = dir.filePath("不存在.srt");
    MessageCapture capture;
    MessageCapture::lines().clear();
    QVERIFY(parseSrtFile(path).isEmpty());
    QCOMPARE(MessageCapture::lines(), QStringList{"无法打开字幕文件: \"" + path + "\""});
}

void tst_SrtParser::emptyFileLogsNothing_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::newRow("zero bytes") << QByteArray();
    QTest::newRow("blank lines") << QByteArray("\r\n\n  \n");
    QTest::newRow("byte-order mark only") << QByteArray("\xEF\xBB\xBF");
}

void tst_SrtParser::emptyFileLogsNothing()
{
    QFETCH(QByteArray, content);
    const QString path = writeFile(dir, "nothing.srt", content);
    QVERIFY(!path.isEmpty());
    MessageCapture capture;
    MessageCapture::lines().clear();
    QVERIFY(parseSrtFile(path).isEmpty());
    QCOMPARE(MessageCapture::lines(), QStringList());
}

QTEST_GUILESS_MAIN(tst_SrtParser)
#include "tst_srtparser.moc"
