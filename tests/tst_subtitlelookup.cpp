#include "gui/player/playerwindow.h"
#include "core/settings/settings.h"
#include "core/subtitles/srtparser.h"
#include "core/subtitles/subtitlelookup.h"
#include "testsupport.h"
#include "ui_playerwindow.h"

#include <QDir>
#include <QFile>
#include <QGraphicsTextItem>
#include <QPushButton>
#include <QProcess>
#include <QStringEncoder>
#include <QTemporaryDir>
#include <QTest>

namespace {

// Collects the debug lines written while it lives.
class MessageCapture
{
public:
    MessageCapture()
    {
        lines().clear();
        previous = qInstallMessageHandler(&MessageCapture::handle);
    }
    ~MessageCapture() { qInstallMessageHandler(previous); }
    static QStringList &lines()
    {
        static QStringList captured;
        return captured;
    }
    // Only the lines of the subtitle lookup; other parts of the window log too.
    static QStringList lookupLines()
    {
        const QStringList labels{
            "删除重复字幕:", "字幕重命名:", "字幕加载成功:", "未找到字幕:", "无法打开字幕文件:"};
        QStringList found;
        for (const QString &line : lines()) {
            for (const QString &label : labels) {
                if (line.startsWith(label))
                    found << line;
            }
        }
        return found;
    }

private:
    static void handle(QtMsgType, const QMessageLogContext &, const QString &message) { lines() << message; }
    QtMessageHandler previous = nullptr;
};

// Every subtitle file holds one cue whose text names the file it was written as.
QByteArray cueNaming(const QString &origin)
{
    return "1\n00:00:01,000 --> 00:00:02,500\n" + origin.toUtf8() + "\n";
}

bool writeSubtitle(const QString &dir, const QString &name, const QString &origin)
{
    QFile file(QDir(dir).filePath(name));
    return file.open(QIODevice::WriteOnly) && file.write(cueNaming(origin)) > 0;
}

bool runFfmpeg(const QStringList &arguments)
{
    QProcess ffmpeg;
    ffmpeg.start("ffmpeg", QStringList{"-nostdin", "-v", "error", "-y"} + arguments);
    return ffmpeg.waitForFinished(60000) && ffmpeg.exitStatus() == QProcess::NormalExit &&
           ffmpeg.exitCode() == 0;
}

// A subtitle in the format its name's suffix says (as FFmpeg writes it from the one-cue SRT),
// or, with a suffix FFmpeg writes no subtitle to, a media file with that SRT as its track.
bool writeOtherSource(const QString &dir, const QString &name, const QString &origin,
                      const QStringList &codec)
{
    const QString srt = QDir(dir).filePath("source.srt");
    if (!writeSubtitle(dir, "source.srt", origin))
        return false;
    const bool ok = runFfmpeg(QStringList{"-i", srt} + codec + QStringList{QDir(dir).filePath(name)});
    return QFile::remove(srt) && ok;
}

QByteArray readAll(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QStringList listing(const QString &dir)
{
    return QDir(dir).entryList(QDir::Files, QDir::Name);
}

} // namespace

class tst_SubtitleLookup : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();
    void lookup_data();
    void lookup();
    void windowLoadsTheAdoptedSubtitle();
    void networkPrefixIgnoresCase_data();
    void networkPrefixIgnoresCase();
    void emptyPathChangesNothing();
    void subtitleWithoutSentenceIsNoticed_data();
    void subtitleWithoutSentenceIsNoticed();
    void otherSourceTakenOver_data();
    void otherSourceTakenOver();
    void windowDrillsTheTrackInsideAnMkv();
    void windowTakesTheChosenTrackAndTheOther();
    void secondSubtitleShownWithItsKey();
    void newLoadReplacesSubtitleState();
    void playModeWaitsForSubtitles();

private:
    QString mediaDir() const { return workDir->filePath("媒体 目录"); }
    QString rootDir() const { return workDir->filePath("root"); }
    QString expand(QString text) const
    {
        return text.replace("%media%", mediaDir()).replace("%root%", rootDir());
    }
    // A network video whose URL path spells the local media directory.
    QString networkUrlInMediaDir(const QString &name) const
    {
        QUrl url;
        url.setScheme("https");
        url.setHost("127.0.0.1");
        url.setPath(QDir(mediaDir()).filePath(name));
        return url.toString();
    }

    QTemporaryDir settingsDir;
    QTemporaryDir *workDir = nullptr;
};

void tst_SubtitleLookup::initTestCase()
{
    QVERIFY(settingsDir.isValid());
    useTemporarySettings(settingsDir);
}

void tst_SubtitleLookup::init()
{
    clearSettings();
    workDir = new QTemporaryDir;
    QVERIFY(workDir->isValid());
    QVERIFY(QDir().mkpath(mediaDir()));
    QVERIFY(QDir().mkpath(rootDir()));
}

void tst_SubtitleLookup::cleanup()
{
    delete workDir;
    workDir = nullptr;
}

void tst_SubtitleLookup::lookup_data()
{
    QTest::addColumn<QString>("mediaName");
    QTest::addColumn<bool>("network"); // a URL whose path names the media directory
    QTest::addColumn<QStringList>("mediaFiles");
    QTest::addColumn<QStringList>("rootFiles");
    QTest::addColumn<QString>("workingDir"); // "%root%" or "%media%" with optional decoration
    QTest::addColumn<QString>("chosen");     // the origin written into the chosen file; empty if none
    QTest::addColumn<QStringList>("mediaFilesAfter");
    QTest::addColumn<QStringList>("rootFilesAfter");
    QTest::addColumn<QStringList>("log"); // as the window writes it: one cue in every file

    QTest::newRow("lone a.srt adopted as a.srt1")
        << "a.mp4" << false << QStringList{"a.srt"} << QStringList() << "%root%"
        << "media a.srt" << QStringList{"a.srt1"} << QStringList()
        << QStringList{"字幕重命名: \"%media%/a.srt\" -> \"%media%/a.srt1\"",
                       "字幕加载成功: \"%media%/a.srt1\" 共 1 句"};
    QTest::newRow("a.srt beside a.srt1 deleted")
        << "a.mp4" << false << QStringList{"a.srt", "a.srt1"} << QStringList() << "%root%"
        << "media a.srt1" << QStringList{"a.srt1"} << QStringList()
        << QStringList{"删除重复字幕: \"%media%/a.srt\"", "字幕加载成功: \"%media%/a.srt1\" 共 1 句"};
    QTest::newRow("working directory fallback")
        << "a.mp4" << false << QStringList() << QStringList{"a.srt1"} << "%root%"
        << "root a.srt1" << QStringList() << QStringList{"a.srt1"}
        << QStringList{"字幕加载成功: \"%root%/a.srt1\" 共 1 句"};
    QTest::newRow("srt in the working directory adopted there")
        << "a.mp4" << false << QStringList() << QStringList{"a.srt"} << "%root%"
        << "root a.srt" << QStringList() << QStringList{"a.srt1"}
        << QStringList{"字幕重命名: \"%root%/a.srt\" -> \"%root%/a.srt1\"",
                       "字幕加载成功: \"%root%/a.srt1\" 共 1 句"};
    QTest::newRow("media directory before working directory")
        << "a.mp4" << false << QStringList{"a.srt1"} << QStringList{"a.srt"} << "%root%"
        << "media a.srt1" << QStringList{"a.srt1"} << QStringList{"a.srt"}
        << QStringList{"字幕加载成功: \"%media%/a.srt1\" 共 1 句"};
    QTest::newRow("nothing anywhere lists both directories")
        << "a.mp4" << false << QStringList{"b.srt"} << QStringList{"c.srt1"} << "%root%"
        << "" << QStringList{"b.srt"} << QStringList{"c.srt1"}
        << QStringList{"未找到字幕: \"a\" (.srt1 / .srt)，已尝试目录: QList(\"%media%\", \"%root%\")"};
    QTest::newRow("working directory equal to media directory tried once")
        << "a.mp4" << false << QStringList() << QStringList() << "%media%/./"
        << "" << QStringList() << QStringList()
        << QStringList{"未找到字幕: \"a\" (.srt1 / .srt)，已尝试目录: QList(\"%media%\")"};
    QTest::newRow("a.b.mp4 looks for a.b")
        << "a.b.mp4" << false << QStringList{"a.srt1", "a.b.srt"} << QStringList() << "%root%"
        << "media a.b.srt" << QStringList{"a.b.srt1", "a.srt1"} << QStringList()
        << QStringList{"字幕重命名: \"%media%/a.b.srt\" -> \"%media%/a.b.srt1\"",
                       "字幕加载成功: \"%media%/a.b.srt1\" 共 1 句"};
    QTest::newRow("A.mp4 finds a.SRT by listing and leaves it")
        << "A.mp4" << false << QStringList{"a.SRT"} << QStringList() << "%root%"
        << "media a.SRT" << QStringList{"a.SRT"} << QStringList()
        << QStringList{"字幕加载成功: \"%media%/a.SRT\" 共 1 句"};
    QTest::newRow("listing finds an upper-case srt1")
        << "Lesson.mp4" << false << QStringList{"LESSON.SRT1"} << QStringList() << "%root%"
        << "media LESSON.SRT1" << QStringList{"LESSON.SRT1"} << QStringList()
        << QStringList{"字幕加载成功: \"%media%/LESSON.SRT1\" 共 1 句"};
    QTest::newRow("movie.en.srt not taken for movie.mp4")
        << "movie.mp4" << false << QStringList{"movie.en.srt"} << QStringList() << "%root%"
        << "" << QStringList{"movie.en.srt"} << QStringList()
        << QStringList{"未找到字幕: \"movie\" (.srt1 / .srt)，已尝试目录: QList(\"%media%\", \"%root%\")"};
    QTest::newRow("chinese name with spaces")
        << "第一课 你好.mp4" << false << QStringList{"第一课 你好.srt"} << QStringList() << "%root%"
        << "media 第一课 你好.srt" << QStringList{"第一课 你好.srt1"} << QStringList()
        << QStringList{"字幕重命名: \"%media%/第一课 你好.srt\" -> \"%media%/第一课 你好.srt1\"",
                       "字幕加载成功: \"%media%/第一课 你好.srt1\" 共 1 句"};
    QTest::newRow("network video leaves the directory its URL names")
        << "notes.mp4" << true << QStringList{"notes.srt", "notes.srt1", "other.srt"} << QStringList()
        << "%root%"
        << "" << QStringList{"notes.srt", "notes.srt1", "other.srt"} << QStringList()
        << QStringList{
               "未找到字幕: \"notes\" (.srt1 / .srt)，已尝试目录: QList(\"%root%/网络字幕/127.0.0.1_443\")"};
    QTest::newRow("network video leaves the learner's own subtitles in the working directory")
        << "notes.mp4" << true << QStringList() << QStringList{"notes.srt", "notes.srt1"} << "%root%"
        << "" << QStringList() << QStringList{"notes.srt", "notes.srt1"}
        << QStringList{
               "未找到字幕: \"notes\" (.srt1 / .srt)，已尝试目录: QList(\"%root%/网络字幕/127.0.0.1_443\")"};
}

void tst_SubtitleLookup::lookup()
{
    QFETCH(QString, mediaName);
    QFETCH(bool, network);
    QFETCH(QStringList, mediaFiles);
    QFETCH(QStringList, rootFiles);
    QFETCH(QString, workingDir);
    QFETCH(QString, chosen);
    QFETCH(QStringList, mediaFilesAfter);
    QFETCH(QStringList, rootFilesAfter);
    QFETCH(QStringList, log);

    for (const QString &name : mediaFiles)
        QVERIFY(writeSubtitle(mediaDir(), name, "media " + name));
    for (const QString &name : rootFiles)
        QVERIFY(writeSubtitle(rootDir(), name, "root " + name));
    const QString mediaPath =
        network ? networkUrlInMediaDir(mediaName) : QDir(mediaDir()).filePath(mediaName);

    const SubtitleLookup lookup = lookUpSubtitle(mediaUrlFor(mediaPath), expand(workingDir));
    const QString outcome =
        lookup.path.isEmpty() ? subtitleNotFoundLine(lookup) : subtitleLoadedLine(lookup.path, 1);
    QCOMPARE(lookup.log + QStringList{outcome}, expand(log.join('\n')).split('\n'));
    QCOMPARE(listing(mediaDir()), mediaFilesAfter);
    QCOMPARE(listing(rootDir()), rootFilesAfter);
    if (chosen.isEmpty()) {
        QVERIFY(lookup.path.isEmpty());
        return;
    }
    // The chosen file holds the bytes it had under its old name, wherever it was adopted.
    QCOMPARE(readAll(lookup.path), cueNaming(chosen));
}

// The window sets the media, logs what the lookup did and reads the file it chose.
void tst_SubtitleLookup::windowLoadsTheAdoptedSubtitle()
{
    QVERIFY(writeSubtitle(mediaDir(), "第一课 a.srt", "adopted"));
    const QString mediaPath = QDir(mediaDir()).filePath("第一课 a.mp4");
    const QString adopted = QDir(mediaDir()).filePath("第一课 a.srt1");

    PlayerWindow window(nullptr, QString());
    window.setWorkingDirectory(rootDir());
    {
        MessageCapture capture;
        window.loadSubtitles(mediaPath);
        QCOMPARE(MessageCapture::lookupLines(),
                 (QStringList{"字幕重命名: \"" + QDir(mediaDir()).filePath("第一课 a.srt") + "\" -> \"" +
                                  adopted + "\"",
                              "字幕加载成功: \"" + adopted + "\" 共 1 句"}));
    }
    QCOMPARE(window.lessonFile(), mediaPath);
    QVERIFY(sourceLeadsTo(window.mediaEngine()->source(), mediaPath));
    QCOMPARE(window.repeatSession()->sentences().size(), 1);
    QCOMPARE(window.repeatSession()->sentences().first().text, QString("adopted"));
    QCOMPARE(window.repeatSession()->sentences().first().startMs, qint64(1000));
    QCOMPARE(window.repeatSession()->sentences().first().endMs, qint64(2500));
}

void tst_SubtitleLookup::networkPrefixIgnoresCase_data()
{
    QTest::addColumn<QString>("prefix");
    QTest::newRow("lower case") << "http";
    QTest::newRow("capitals") << "HTTP";
    QTest::newRow("mixed") << "hTTp";
}

// A network video's subtitle was downloaded into its server's folder under the decoded base
// name of the URL's path.
void tst_SubtitleLookup::networkPrefixIgnoresCase()
{
    QFETCH(QString, prefix);
    const QString serverFolder = rootDir() + "/网络字幕/127.0.0.1_9";
    QVERIFY(QDir().mkpath(serverFolder));
    QVERIFY(writeSubtitle(serverFolder, "第一课 a.srt1", "downloaded"));
    const QString url = prefix + "://127.0.0.1:9/videos/%E7%AC%AC%E4%B8%80%E8%AF%BE%20a.mp4";

    PlayerWindow window(nullptr, QString());
    window.setWorkingDirectory(rootDir());
    MessageCapture capture;
    window.loadSubtitles(url);

    QCOMPARE(window.lessonFile(), url);
    QVERIFY(!window.mediaEngine()->source().isLocalFile());
    QCOMPARE(window.mediaEngine()->source().host(), QString("127.0.0.1"));
    QCOMPARE(window.repeatSession()->sentences().size(), 1);
    QCOMPARE(window.repeatSession()->sentences().first().text, QString("downloaded"));
}

void tst_SubtitleLookup::emptyPathChangesNothing()
{
    QVERIFY(writeSubtitle(mediaDir(), "a.srt1", "first"));
    const QString mediaPath = QDir(mediaDir()).filePath("a.mp4");
    PlayerWindow window(nullptr, QString());
    window.setWorkingDirectory(rootDir());
    window.loadSubtitles(mediaPath);
    QCOMPARE(window.repeatSession()->sentences().size(), 1);

    MessageCapture capture;
    window.loadSubtitles(QString());
    QCOMPARE(window.lessonFile(), mediaPath);
    QVERIFY(sourceLeadsTo(window.mediaEngine()->source(), mediaPath));
    QCOMPARE(window.repeatSession()->sentences().size(), 1);
    QCOMPARE(window.repeatSession()->sentences().first().text, QString("first"));
    QCOMPARE(MessageCapture::lookupLines(), QStringList());
}

void tst_SubtitleLookup::subtitleWithoutSentenceIsNoticed_data()
{
    QTest::addColumn<QByteArray>("content"); // of a.srt1; empty: a directory by that name
    QTest::addColumn<QString>("parserLine");
    QTest::newRow("unreadable") << QByteArray() << "无法打开字幕文件: \"%media%/a.srt1\"";
    QTest::newRow("sound descriptions only")
        << QByteArray("1\n00:00:01,000 --> 00:00:02,000\n[Music]\n") << QString();
    QTest::newRow("utf-16 without byte-order mark")
        << QByteArray(QStringEncoder(QStringEncoder::Utf16LE).encode(QString::fromUtf8(cueNaming("wide"))))
        << QString();
    QTest::newRow("every time reads as nothing")
        << QByteArray("1\n00:00:01:000 --> 00:00:02:000\nzero\n\n2\n0:0 --> 0:0\nnone\n") << QString();
}

// A subtitle file that gives no sentence is said so in the title, leaves the player in
// normal play, and a later file with sentences takes the notice back.
void tst_SubtitleLookup::subtitleWithoutSentenceIsNoticed()
{
    QFETCH(QByteArray, content);
    QFETCH(QString, parserLine);
    const QString chosen = QDir(mediaDir()).filePath("a.srt1");
    if (content.isEmpty()) {
        QVERIFY(QDir().mkpath(chosen));
    } else {
        QFile file(chosen);
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write(content) == content.size());
    }
    QVERIFY(writeSubtitle(mediaDir(), "b.srt1", "b"));
    PlayerWindow window(nullptr, QString());
    window.setWorkingDirectory(rootDir());
    {
        MessageCapture capture;
        window.loadSubtitles(QDir(mediaDir()).filePath("a.mp4"));
        QStringList expected{"字幕加载成功: \"" + chosen + "\" 共 0 句"};
        if (!parserLine.isEmpty())
            expected.prepend(expand(parserLine));
        QCOMPARE(MessageCapture::lookupLines(), expected);
    }
    QVERIFY(window.repeatSession()->sentences().isEmpty());
    QCOMPARE(int(window.repeatSession()->playMode()), 0);
    QVERIFY(!childNamed<QComboBox>(window, "comboPlayMode")->isEnabled());
    QCOMPARE(window.windowTitle(), QString("字幕文件中没有可用的句子：a.srt1（只能正常播放）"));

    window.loadSubtitles(QDir(mediaDir()).filePath("b.mp4"));
    QCOMPARE(window.repeatSession()->sentences().size(), 1);
    QVERIFY2(window.windowTitle().startsWith("b.mp4 - 复读机播放器OrviLoop"),
             qPrintable(window.windowTitle()));
}

void tst_SubtitleLookup::otherSourceTakenOver_data()
{
    QTest::addColumn<QString>("mediaName");
    QTest::addColumn<QStringList>("files");      // beside the media: written by FFmpeg as their suffix says
    QTest::addColumn<QStringList>("mediaCodec"); // the media is written with a track of this codec
    QTest::addColumn<QString>("sentence");       // the sentence of the .srt1 found; empty: none
    QTest::addColumn<QString>("takenFrom");
    QTest::addColumn<QString>("problem");
    QTest::addColumn<QStringList>("filesAfter");

    QTest::newRow("lesson.vtt") << "课文 a.mp4" << QStringList{"课文 a.vtt"} << QStringList()
                                << "media 课文 a.vtt"
                                << "课文 a.vtt"
                                << "" << QStringList{"课文 a.srt1", "课文 a.vtt"};
    QTest::newRow("vtt before ass, ssa and lrc")
        << "a.mp4" << QStringList{"a.lrc", "a.ssa", "a.ass", "a.vtt"} << QStringList() << "media a.vtt"
        << "a.vtt"
        << "" << QStringList{"a.ass", "a.lrc", "a.srt1", "a.ssa", "a.vtt"};
    QTest::newRow("srt before vtt") << "a.mp4" << QStringList{"a.srt", "a.vtt"} << QStringList()
                                    << "media a.srt"
                                    << ""
                                    << "" << QStringList{"a.srt1", "a.vtt"};
    QTest::newRow("lrc in capitals") << "a.mp4" << QStringList{"A.LRC"} << QStringList() << "media A.LRC"
                                     << "A.LRC"
                                     << "" << QStringList{"A.LRC", "a.srt1"};
    QTest::newRow("a.en.vtt not taken for a.mp4") << "a.mp4" << QStringList{"a.en.vtt"} << QStringList() << ""
                                                  << ""
                                                  << "" << QStringList{"a.en.vtt"};
    QTest::newRow("vtt without sentence: nothing written")
        << "a.mp4" << QStringList{"a.vtt!"} << QStringList() << ""
        << ""
        << "字幕文件中没有可用的句子：a.vtt" << QStringList{"a.vtt"};
    QTest::newRow("mkv subrip track")
        << "a.mkv" << QStringList() << QStringList{"-c:s", "srt"} << "media track"
        << "媒体内字幕轨 1（subrip）"
        << "" << QStringList{"a.mkv", "a.srt1"};
    QTest::newRow("mkv ass track") << "a.mkv" << QStringList() << QStringList{"-c:s", "ass"} << "media track"
                                   << "媒体内字幕轨 1（ass）"
                                   << "" << QStringList{"a.mkv", "a.srt1"};
    QTest::newRow("mp4 mov_text track")
        << "a.mp4" << QStringList() << QStringList{"-c:s", "mov_text"} << "media track"
        << "媒体内字幕轨 1（mov_text, und）"
        << "" << QStringList{"a.mp4", "a.srt1"};
    QTest::newRow("vtt beside the mkv before its track")
        << "a.mkv" << QStringList{"a.vtt"} << QStringList{"-c:s", "srt"} << "media a.vtt"
        << "a.vtt"
        << "" << QStringList{"a.mkv", "a.srt1", "a.vtt"};
}

// A lesson whose subtitle is in another format or inside the media gets a .srt1 written from
// its sentences, the original left as it was; a source without sentences writes nothing.
void tst_SubtitleLookup::otherSourceTakenOver()
{
    QFETCH(QString, mediaName);
    QFETCH(QStringList, files);
    QFETCH(QStringList, mediaCodec);
    QFETCH(QString, sentence);
    QFETCH(QString, takenFrom);
    QFETCH(QString, problem);
    QFETCH(QStringList, filesAfter);

    for (QString name : files) {
        if (name.endsWith('!')) { // not a subtitle at all
            name.chop(1);
            QFile file(QDir(mediaDir()).filePath(name));
            QVERIFY(file.open(QIODevice::WriteOnly) && file.write("WEBVTT\n\nno cue here\n") > 0);
        } else if (name.endsWith(".srt")) {
            QVERIFY(writeSubtitle(mediaDir(), name, "media " + name));
        } else {
            QVERIFY(writeOtherSource(mediaDir(), name, "media " + name, {}));
        }
    }
    if (!mediaCodec.isEmpty())
        QVERIFY(writeOtherSource(mediaDir(), mediaName, "media track", mediaCodec));

    const QString mediaPath = QDir(mediaDir()).filePath(mediaName);
    const SubtitleLookup lookup = lookUpSubtitle(mediaUrlFor(mediaPath), rootDir());
    QCOMPARE(lookup.takenFrom, takenFrom);
    QCOMPARE(lookup.problem, problem);
    QCOMPARE(listing(mediaDir()), filesAfter);
    if (sentence.isEmpty()) {
        QVERIFY(lookup.path.isEmpty());
        return;
    }
    QCOMPARE(QFileInfo(lookup.path).fileName(), QFileInfo(mediaName).completeBaseName() + ".srt1");
    const QList<SubtitleItem> read = parseSrtFile(lookup.path);
    QCOMPARE(read.size(), 1);
    QCOMPARE(read.first().text, sentence);
    QVERIFY(qAbs(read.first().startMs - 1000) <= 10);
}

// The track is drilled as soon as it is read: sentences, the .srt1 beside the media, and the
// title says where they came from.
void tst_SubtitleLookup::windowDrillsTheTrackInsideAnMkv()
{
    const QString mediaPath = QDir(mediaDir()).filePath("第二课.mkv");
    QVERIFY(writeOtherSource(mediaDir(), "第二课.mkv", "inside", {"-c:s", "srt"}));
    PlayerWindow window(nullptr, QString());
    window.setWorkingDirectory(rootDir());
    window.loadSubtitles(mediaPath);
    // Read on another thread: the lesson plays meanwhile, and the library does not warn.
    const RepeatSession *session = window.repeatSession();
    QVERIFY(session->sentences().isEmpty());
    QVERIFY(window.hasSubtitle());
    QVERIFY2(window.windowTitle().startsWith("正在读取媒体内的字幕轨…"), qPrintable(window.windowTitle()));
    QTRY_COMPARE(session->sentences().size(), 1);
    QCOMPARE(session->sentences().first().text, QString("inside"));
    QVERIFY(QFileInfo::exists(QDir(mediaDir()).filePath("第二课.srt1")));
    // This MKV holds no sound: the title may tell that it cannot play by then.
    QVERIFY2(window.windowTitle().startsWith("字幕取自 媒体内字幕轨 1（subrip）   "),
             qPrintable(window.windowTitle()));

    window.loadSubtitles(QDir(mediaDir()).filePath("other.mp4"));
    QVERIFY2(window.windowTitle().startsWith("other.mp4 - "), qPrintable(window.windowTitle()));
}

// Of an English and a Chinese track the learner's language gives the sentences; the other track,
// read while the lesson plays, the second subtitle.
void tst_SubtitleLookup::windowTakesTheChosenTrackAndTheOther()
{
    QVERIFY(writeSubtitle(mediaDir(), "en.srt", "Hello"));
    QVERIFY(writeSubtitle(mediaDir(), "zh.srt", "你好"));
    const QString mediaPath = QDir(mediaDir()).filePath("两条 字幕轨.mkv");
    QVERIFY(runFfmpeg({"-i", QDir(mediaDir()).filePath("en.srt"), "-i", QDir(mediaDir()).filePath("zh.srt"),
                       "-map", "0", "-map", "1", "-c:s", "srt", "-metadata:s:s:0", "language=eng",
                       "-metadata:s:s:1", "language=chi", mediaPath}));
    // Opened again after another language is chosen, the lesson keeps the sentences it took over,
    // and the second subtitle is still the other track.
    for (const QString &language : {QString("zh"), QString()}) {
        Settings chosen = Settings::load();
        chosen.subtitleLanguage = language;
        chosen.save();
        PlayerWindow window(nullptr, QString());
        window.setWorkingDirectory(rootDir());
        window.loadSubtitles(mediaPath);
        QTRY_COMPARE(window.repeatSession()->sentences().size(), 1);
        QCOMPARE(window.repeatSession()->sentences().first().text, QString("你好"));
        QTRY_VERIFY(!childNamed<QPushButton>(window, "btnSecondSubtitle")->isHidden());
        QTest::keyClick(&window, Qt::Key_T);
        QCOMPARE(window.subtitleItem()->toPlainText(), QString("你好\nHello"));
    }
}

// T shows the second subtitle under the sentence and hides it again; its button says which.
void tst_SubtitleLookup::secondSubtitleShownWithItsKey()
{
    QVERIFY(writeSubtitle(mediaDir(), "a.srt1", "Hello"));
    QVERIFY(writeSubtitle(mediaDir(), "a.zh.srt", "你好"));
    PlayerWindow window(nullptr, QString());
    window.setWorkingDirectory(rootDir());
    window.loadSubtitles(QDir(mediaDir()).filePath("a.mp4"));
    QCOMPARE(window.subtitleItem()->toPlainText(), QString("Hello"));
    QVERIFY(!childNamed<QPushButton>(window, "btnSecondSubtitle")->isHidden());

    QTest::keyClick(&window, Qt::Key_T);
    QCOMPARE(window.subtitleItem()->toPlainText(), QString("Hello\n你好"));
    QCOMPARE(childNamed<QPushButton>(window, "btnSecondSubtitle")->text(), QString("字幕2:关"));
    childNamed<QPushButton>(window, "btnSecondSubtitle")->click();
    QCOMPARE(window.subtitleItem()->toPlainText(), QString("Hello"));

    window.loadSubtitles(QDir(mediaDir()).filePath("b.mp4"));
    QVERIFY(childNamed<QPushButton>(window, "btnSecondSubtitle")->isHidden());
}

void tst_SubtitleLookup::newLoadReplacesSubtitleState()
{
    QVERIFY(writeSubtitle(mediaDir(), "a.srt1", "a"));
    PlayerWindow window(nullptr, QString());
    window.setWorkingDirectory(rootDir());
    window.loadSubtitles(QDir(mediaDir()).filePath("a.mp4"));
    QCOMPARE(window.repeatSession()->sentences().size(), 1);
    window.repeatSession()->restorePlace(1000, 0, 3);

    window.loadSubtitles(QDir(mediaDir()).filePath("b.mp4"));
    QVERIFY(window.repeatSession()->sentences().isEmpty());
    QCOMPARE(window.repeatSession()->repeatRound(), 0);
    QCOMPARE(window.lessonFile(), QDir(mediaDir()).filePath("b.mp4"));
}

// "Auto next sentence" chosen while a file without subtitles plays must come into force
// as soon as a file with subtitles is loaded.
void tst_SubtitleLookup::playModeWaitsForSubtitles()
{
    QVERIFY(writeSubtitle(mediaDir(), "with.srt1", "with"));
    PlayerWindow window(nullptr, QString());
    window.setWorkingDirectory(rootDir());
    QComboBox *combo = childNamed<QComboBox>(window, "comboPlayMode");

    window.loadSubtitles(QDir(mediaDir()).filePath("without.mp4"));
    QCOMPARE(int(window.repeatSession()->playMode()), 0);
    QVERIFY(!combo->isEnabled());
    QCOMPARE(combo->toolTip(), QString("未找到字幕：只能正常播放"));

    // The learner picks "auto next sentence" while nothing can be repeated yet.
    combo->setCurrentIndex(2);
    QCOMPARE(int(window.repeatSession()->requestedPlayMode()), 2);
    QCOMPARE(int(window.repeatSession()->playMode()), 0);

    window.loadSubtitles(QDir(mediaDir()).filePath("with.mp4"));
    QCOMPARE(window.repeatSession()->sentences().size(), 1);
    QCOMPARE(int(window.repeatSession()->playMode()), 2);
    QCOMPARE(int(window.repeatSession()->requestedPlayMode()), 2);
    QVERIFY(combo->isEnabled());
    QCOMPARE(combo->toolTip(), QString());
    QCOMPARE(combo->currentIndex(), 2);

    // Once applied, a further load with subtitles keeps the mode in force.
    window.loadSubtitles(QDir(mediaDir()).filePath("with.mp4"));
    QCOMPARE(int(window.repeatSession()->playMode()), 2);

    // Normal play asked for: nothing waits for subtitles.
    window.repeatSession()->setPlayMode(PlayMode::NormalPlay);
    window.loadSubtitles(QDir(mediaDir()).filePath("without.mp4"));
    QCOMPARE(window.repeatSession()->requestedPlayMode(), PlayMode::NormalPlay);
    QCOMPARE(int(window.repeatSession()->playMode()), 0);
}

QTEST_MAIN(tst_SubtitleLookup)
#include "tst_subtitlelookup.moc"
