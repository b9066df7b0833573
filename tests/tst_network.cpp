#include "gui/player/playerwindow.h"
#include "mainwindowtest.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QMessageBox>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QPointer>
#include <QProcess>
#include <QPushButton>
#include <QStatusBar>
#include <QTcpServer>
#include <QTest>
#include <QTimer>

#include <memory>

using namespace MainWindowTest;

#ifdef Q_OS_UNIX
#include <csignal>
#include <sys/resource.h>
#endif

// One tests/https_server.py process: a real HTTPS server on 127.0.0.1 with a certificate
// authority of its own, logging the path of every request it gets.
class HttpsServer
{
public:
    ~HttpsServer()
    {
        process.terminate();
        if (!process.waitForFinished(5000))
            process.kill();
    }

    void start(const QString &root)
    {
        QVERIFY(certDir.isValid());
        const QString script = QFINDTESTDATA("https_server.py");
        QVERIFY(!script.isEmpty());
        process.start("python3", {script, "--root", root, "--cert-dir", certDir.path(), "--log", logPath()});
        QVERIFY2(process.waitForStarted(), qPrintable(process.errorString()));
        QByteArray out;
        while (!out.contains('\n')) {
            QVERIFY2(process.waitForReadyRead(60000), process.readAllStandardError().constData());
            out += process.readAllStandardOutput();
        }
        port = out.trimmed().split(' ').value(1).toInt();
        QVERIFY2(port > 0, out.constData());
    }

    QString baseUrl() const { return QString("https://127.0.0.1:%1/").arg(port); }
    int serverPort() const { return port; }
    QString caFile() const { return certDir.filePath("ca.pem"); }

    QStringList requests() const
    {
        QFile log(logPath());
        if (!log.open(QIODevice::ReadOnly))
            return {};
        return QString::fromUtf8(log.readAll()).split('\n', Qt::SkipEmptyParts);
    }

private:
    QString logPath() const { return certDir.filePath("requests.log"); }

    QProcess process;
    QTemporaryDir certDir;
    int port = 0;
};

class tst_Network : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void catalogueListsEntries_data();
    void catalogueListsEntries();
    void catalogueFailureKeepsLocalList_data();
    void catalogueFailureKeepsLocalList();
    void secondClickAppendsBothReplies();
    void localListingReplacesCatalogue_data();
    void localListingReplacesCatalogue();
    void downloadSubtitle_data();
    void downloadSubtitle();
    void downloadWithoutRequest_data();
    void downloadWithoutRequest();
    void unwritableWorkingDirectoryWritesNothing();
    void failedWriteLeavesNoPartialSubtitle();
    void videoFailureIsShown_data();
    void videoFailureIsShown();
    void doubleClickStreamsVideo_data();
    void doubleClickStreamsVideo();

private:
    void serveFile(const QString &relativePath, const QByteArray &content);
    void makeVideo(const QString &relativePath);
    void clickCatalogueAndWait(MainWindow &window);
    QStringList newRequests() const { return trusted.requests().mid(requestMark); }
    QStringList workFiles() const;
    // Where the subtitles from the trusted server are stored, apart from the learner's own.
    QString networkFolder() const
    {
        return workDir + "/网络字幕/127.0.0.1_" + QString::number(trusted.serverPort());
    }
    QStringList networkFiles() const
    {
        return QDir(networkFolder()).entryList(QDir::Files | QDir::Hidden, QDir::Name);
    }
    // The text of the "网络错误" box the window shows, which is then closed; empty if none.
    static QString takeNetworkError(QWidget &window);

    QTemporaryDir settingsDir;
    QTemporaryDir serveDir;
    HttpsServer trusted;
    HttpsServer untrusted;
    std::unique_ptr<QTemporaryDir> workParent;
    QString workDir;
    int requestMark = 0;
    // The longest the event loop went without running while the last catalogue was loaded.
    qint64 longestStallMs = 0;
    // A catalogue read whole on the window's thread stood it still for half a minute; a busy
    // machine (or the sanitizer build) may hold the event loop for a second on its own.
    static constexpr qint64 maxStallMs = 5000;
};

static const QByteArray subtitleBody = "1\r\n00:00:00,000 --> 00:00:01,000\r\n你好 hello\r\n\r\n"
                                       "2\r\n00:00:01,000 --> 00:00:02,000\r\nsecond\r\n\r\n"
                                       "3\r\n00:00:02,000 --> 00:00:03,000\r\nthird\r\n";
static constexpr int subtitleCues = 3;
static constexpr qint64 sixteenMiB = 16 * 1024 * 1024;
// A transfer without a byte for this long is given up (15 s outside the tests).
static constexpr int timeoutMs = 1500;

QString tst_Network::takeNetworkError(QWidget &window)
{
    QString text;
    for (QMessageBox *box : window.findChildren<QMessageBox *>()) {
        if (box->isVisible() && box->windowTitle() == "网络错误") {
            text += box->text();
            box->close();
        }
    }
    return text;
}

void tst_Network::serveFile(const QString &relativePath, const QByteArray &content)
{
    const QString path = serveDir.filePath(relativePath);
    QVERIFY(QDir().mkpath(QFileInfo(path).absolutePath()));
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    QCOMPARE(file.write(content), content.size());
}

void tst_Network::makeVideo(const QString &relativePath)
{
    const QString path = serveDir.filePath(relativePath);
    QVERIFY(QDir().mkpath(QFileInfo(path).absolutePath()));
    QProcess ffmpeg;
    ffmpeg.start("ffmpeg",
                 {"-y", "-v", "error", "-f", "lavfi", "-i", "testsrc=size=160x120:rate=15:duration=3", "-f",
                  "lavfi", "-i", "sine=frequency=440:duration=3", "-c:v", "mpeg4", "-c:a", "aac", "-shortest",
                  "-movflags", "+faststart", path});
    QVERIFY(ffmpeg.waitForFinished(60000));
    QVERIFY2(QFileInfo(path).size() > 0, ffmpeg.readAllStandardError().constData());
}

void tst_Network::initTestCase()
{
    QVERIFY(settingsDir.isValid());
    QVERIFY(serveDir.isValid());
    useTemporarySettings(settingsDir);

    makeVideo("sub/talk.mp4");
    QVERIFY(QFile::copy(serveDir.filePath("sub/talk.mp4"), serveDir.filePath("nosub.mp4")));
    serveFile("sub/talk.srt1", subtitleBody);
    serveFile("talk.srt1", subtitleBody);
    serveFile("my talk.srt1", subtitleBody);
    serveFile("课文.srt1", subtitleBody);
    serveFile("LESSON.srt1", subtitleBody);
    serveFile("a#b.srt1", subtitleBody);
    serveFile("exact.srt1", QByteArray(sixteenMiB, 'x'));
    serveFile("huge.srt1", QByteArray(sixteenMiB + 1, 'x'));
    serveFile("video.txt", "sub/talk.mp4\nnosub.mp4\n");
    serveFile("big/video.txt", QByteArray(sixteenMiB + 1, 'x'));
    qputenv("ORVILOOP_NETWORK_TIMEOUT_MS", QByteArray::number(timeoutMs));

    trusted.start(serveDir.path());
    untrusted.start(serveDir.path());
    // Read by every request; the second server's authority stays unknown to the program.
    qputenv("ORVILOOP_CATALOGUE_CA", trusted.caFile().toUtf8());
    qputenv("ORVILOOP_CATALOGUE_URL", trusted.baseUrl().toUtf8());
}

void tst_Network::init()
{
    clearSettings();
    qputenv("ORVILOOP_CATALOGUE_URL", trusted.baseUrl().toUtf8());
    workParent = std::make_unique<QTemporaryDir>();
    QVERIFY(workParent->isValid());
    workDir = workParent->filePath("工作 目录");
    QVERIFY(QDir().mkpath(workDir));
    QFile local(workDir + "/local.mp3");
    QVERIFY(local.open(QIODevice::WriteOnly));
    // The player looks for the downloaded subtitle in the stored working directory.
    QSettings("Orvi", "OrviLoop").setValue("global/rootDir", workDir);
    requestMark = trusted.requests().size();
}

// Every file of the working directory, hidden ones too, in plain string order.
QStringList tst_Network::workFiles() const
{
    QStringList files = QDir(workDir).entryList(QDir::Files | QDir::Hidden);
    files.sort();
    return files;
}

// Clicks "网络" and waits until the handlers have released every reply.
void tst_Network::clickCatalogueAndWait(MainWindow &window)
{
    QElapsedTimer sinceTick;
    longestStallMs = 0;
    QTimer ticker;
    connect(&ticker, &QTimer::timeout, &ticker,
            [&] { longestStallMs = qMax(longestStallMs, sinceTick.restart()); });
    ticker.start(10);
    sinceTick.start();
    childNamed<QPushButton>(window, "btnOrvi")->click();
    QVERIFY(!window.findChildren<QNetworkReply *>().isEmpty());
    QTRY_VERIFY_WITH_TIMEOUT(window.findChildren<QNetworkReply *>().isEmpty(), 20000);
}

void tst_Network::catalogueListsEntries_data()
{
    QTest::addColumn<QString>("folder");
    QTest::addColumn<bool>("finalSlash");
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<QStringList>("entries");
    QTest::addColumn<QString>("note"); // in the status bar
    QTest::newRow("CR LF line endings")
        << "crlf" << true << QByteArray("a.mp4\r\nsub/b.mkv\r\n") << QStringList{"a.mp4", "sub/b.mkv"} << "";
    QTest::newRow("blank lines and lines of spaces")
        << "blank" << true << QByteArray("\n\n   \n a.mp4 \r\n\t\n\nb.avi") << QStringList{"a.mp4", "b.avi"}
        << "";
    QTest::newRow("base URL without final slash")
        << "noslash" << false << QByteArray("a.mp4\n") << QStringList{"a.mp4"} << "";
    QTest::newRow("utf8 entries") << "utf8" << true << QByteArray("课文 一.mp4\n第二课.mkv\n")
                                  << QStringList{"课文 一.mp4", "第二课.mkv"} << "";
    QTest::newRow("no entries") << "empty" << true << QByteArray(" \r\n\r\n") << QStringList{} << "";
    QTest::newRow("NUL in the name") << "nul" << true << QByteArray(".bashrc%00.mp4\nrun.sh%00.mp4\nok.mp4\n")
                                     << QStringList{"ok.mp4"} << "已跳过 2 个";
    QTest::newRow("name starting with a dot")
        << "dot" << true << QByteArray(".profile.mp4\nsub/.x.mp4\n%2Ey.mp4\n课.mp4\nsub/\n")
        << QStringList{"课.mp4"} << "已跳过 4 个";
    QTest::newRow("control characters")
        << "control" << true
        << QByteArray("a\x01"
                      "b.mp4\nc%0Ad.mp4\nsub%1B/e.mp4\nf%C2%85g.mp4\nok.mp4\n")
        << QStringList{"ok.mp4"} << "已跳过 4 个";
    QTest::newRow("one line of 15 MB") << "longline" << true << QByteArray(15'000'000, 'a') + ".mp4\nok.mp4\n"
                                       << QStringList{"ok.mp4"} << "已跳过 1 个";
    QStringList many;
    for (int i = 0; i < 10000; ++i)
        many << QString("%1.mp4").arg(i);
    QTest::newRow("more lines than are listed")
        << "many" << true << (many.join('\n') + "\nlast.mp4\n").toUtf8() << many << "只读取了前 10000 行";
}

void tst_Network::catalogueListsEntries()
{
    QFETCH(QString, folder);
    QFETCH(bool, finalSlash);
    QFETCH(QByteArray, body);
    QFETCH(QStringList, entries);
    QFETCH(QString, note);
    serveFile(folder + "/video.txt", body);
    qputenv("ORVILOOP_CATALOGUE_URL", (trusted.baseUrl() + folder + (finalSlash ? "/" : "")).toUtf8());

    MainWindow window;
    QCOMPARE(rows(window), QStringList{"local.mp3"});
    clickCatalogueAndWait(window);

    QVERIFY(!QApplication::activeModalWidget());
    QCOMPARE(rows(window), entries);
    QStringList urls;
    for (const QString &entry : std::as_const(entries))
        urls << trusted.baseUrl() + folder + "/" + entry;
    QCOMPARE(lessons(window), urls);
    QCOMPARE(newRequests(), QStringList{"/" + folder + "/video.txt"});
    const QString shown = window.statusBar()->currentMessage();
    QVERIFY2(note.isEmpty() ? shown.isEmpty() : shown.contains(note), qPrintable(shown));
    QVERIFY2(longestStallMs < maxStallMs,
             qPrintable(QString("window stood still for %1 ms").arg(longestStallMs)));
    QCOMPARE(workFiles(), QStringList{"local.mp3"});
}

void tst_Network::catalogueFailureKeepsLocalList_data()
{
    QTcpServer closed;
    QVERIFY(closed.listen(QHostAddress::LocalHost));
    const QString refusedUrl = QString("https://127.0.0.1:%1/").arg(closed.serverPort());
    closed.close();

    QTest::addColumn<QString>("baseUrl");
    QTest::addColumn<QString>("reason");
    QTest::addColumn<QString>("detail"); // Qt's own words, after the reason
    QTest::newRow("catalogue missing (404)") << trusted.baseUrl() + "nowhere/"
                                             << "服务器上没有这个文件"
                                             << "server replied";
    QTest::newRow("certificate not trusted") << untrusted.baseUrl() << "证书不受信任"
                                             << "SSL handshake failed";
    QTest::newRow("connection refused") << refusedUrl << "连接被拒绝"
                                        << "refused";
    QTest::newRow("stalls midway") << trusted.baseUrl() + "stall/"
                                   << "秒没有发来数据"
                                   << "";
    QTest::newRow("redirect to http") << trusted.baseUrl() + "redirect-http/"
                                      << "不加密"
                                      << "Insecure redirect";
    QTest::newRow("larger than 16 MiB") << trusted.baseUrl() + "big/"
                                        << "超过 16 MiB"
                                        << "";
    QTest::newRow("zeros without end") << trusted.baseUrl() + "endless/"
                                       << "超过 16 MiB"
                                       << "";
}

// A failed catalogue says why in the learner's language and leaves the local files listed.
void tst_Network::catalogueFailureKeepsLocalList()
{
    QFETCH(QString, baseUrl);
    QFETCH(QString, reason);
    QFETCH(QString, detail);
    qputenv("ORVILOOP_CATALOGUE_URL", baseUrl.toUtf8());
    MainWindow window;

    QElapsedTimer clock;
    clock.start();
    clickCatalogueAndWait(window);
    const qint64 elapsedMs = clock.elapsed();
    const QList<QMessageBox *> boxes = window.findChildren<QMessageBox *>();
    QCOMPARE(boxes.size(), 1);
    QCOMPARE(boxes.first()->buttons().size(), 1);
    QVERIFY(boxes.first()->isModal());
    const QString text = takeNetworkError(window);
    QVERIFY2(text.startsWith("无法读取网络课程列表：") && text.contains(reason) && text.contains(detail),
             qPrintable(text));
    QCOMPARE(rows(window), QStringList{"local.mp3"});
    QCOMPARE(lessons(window), QStringList{workDir + "/local.mp3"});
    QVERIFY2(elapsedMs < timeoutMs + 5000, qPrintable(QString::number(elapsedMs)));
    QVERIFY2(longestStallMs < maxStallMs,
             qPrintable(QString("window stood still for %1 ms").arg(longestStallMs)));
}

void tst_Network::secondClickAppendsBothReplies()
{
    serveFile("twice/video.txt", "a.mp4\nb.mp4\n");
    qputenv("ORVILOOP_CATALOGUE_URL", (trusted.baseUrl() + "twice/").toUtf8());
    MainWindow window;
    // Both clicks come before the event loop can deliver the first reply.
    childNamed<QPushButton>(window, "btnOrvi")->click();
    clickCatalogueAndWait(window);

    QCOMPARE(rows(window), (QStringList{"a.mp4", "b.mp4", "a.mp4", "b.mp4"}));
    QCOMPARE(lessons(window).size(), 4);
    QCOMPARE(lessons(window).at(3), trusted.baseUrl() + "twice/b.mp4");
    QCOMPARE(newRequests(), (QStringList{"/twice/video.txt", "/twice/video.txt"}));
}

void tst_Network::localListingReplacesCatalogue_data()
{
    QTest::addColumn<QString>("folder"); // of the catalogue
    QTest::addColumn<bool>("arrived");   // before the local folder is chosen
    // The catalogue stalls until the transfer is given up, after the folder is chosen.
    QTest::newRow("while the catalogue is out") << "stall/" << false;
    QTest::newRow("after the catalogue arrived") << "" << true;
}

// A local folder chosen with "本地" is what the list shows and opens, whether the catalogue
// asked for before has arrived or arrives later.
void tst_Network::localListingReplacesCatalogue()
{
    QFETCH(QString, folder);
    QFETCH(bool, arrived);
    qputenv("ORVILOOP_CATALOGUE_URL", (trusted.baseUrl() + folder).toUtf8());
    MainWindow window;
    if (arrived) {
        clickCatalogueAndWait(window);
        QCOMPARE(rows(window), (QStringList{"sub/talk.mp4", "nosub.mp4"}));
    } else {
        // Never given up on its own while the folder dialog is open, however slow the machine.
        qputenv("ORVILOOP_NETWORK_TIMEOUT_MS", "600000");
        childNamed<QPushButton>(window, "btnOrvi")->click();
        qputenv("ORVILOOP_NETWORK_TIMEOUT_MS", QByteArray::number(timeoutMs));
        // The server has the request and is answering it.
        QTRY_COMPARE_WITH_TIMEOUT(newRequests(), QStringList{"/" + folder + "video.txt"}, 20000);
    }
    QCOMPARE(window.findChildren<QNetworkReply *>().size(), arrived ? 0 : 1);
    chooseFolder(window, workDir);
    // Given up as the transfer timeout gives it up.
    for (QNetworkReply *reply : window.findChildren<QNetworkReply *>())
        reply->abort();
    QTRY_VERIFY_WITH_TIMEOUT(window.findChildren<QNetworkReply *>().isEmpty(), 20000);

    QCOMPARE(rows(window), QStringList{"local.mp3"});
    QCOMPARE(lessons(window), QStringList{workDir + "/local.mp3"});
    QCOMPARE(placeShown(window), "文件夹：" + QDir::toNativeSeparators(workDir));
    // A request the learner has turned away from fails unheard.
    QCOMPARE(takeNetworkError(window), QString());
    QCOMPARE(newRequests(), QStringList{"/" + folder + "video.txt"});
}

void tst_Network::downloadSubtitle_data()
{
    QTest::addColumn<QString>("entry");
    QTest::addColumn<QString>("request");
    QTest::addColumn<QString>("stored");
    QTest::addColumn<QString>("served");
    QTest::newRow("sub-path entry") << "sub/talk.mp4"
                                    << "/sub/talk.srt1"
                                    << "talk.srt1"
                                    << "sub/talk.srt1";
    QTest::newRow("percent-encoded name") << "my%20talk.mp4"
                                          << "/my%20talk.srt1"
                                          << "my talk.srt1"
                                          << "my talk.srt1";
    QTest::newRow("utf8 name") << "课文.mkv"
                               << "/%E8%AF%BE%E6%96%87.srt1"
                               << "课文.srt1"
                               << "课文.srt1";
    QTest::newRow("upper-case suffix") << "LESSON.AVI"
                                       << "/LESSON.srt1"
                                       << "LESSON.srt1"
                                       << "LESSON.srt1";
    QTest::newRow("encoded # in name") << "a%23b.mp4"
                                       << "/a%23b.srt1"
                                       << "a#b.srt1"
                                       << "a#b.srt1";
    QTest::newRow("exactly 16 MiB") << "exact.mp4"
                                    << "/exact.srt1"
                                    << "exact.srt1"
                                    << "exact.srt1";
    QTest::newRow("missing on server (404)") << "nosub.mp4"
                                             << "/nosub.srt1"
                                             << ""
                                             << "";
    QTest::newRow("larger than 16 MiB") << "huge.mp4"
                                        << "/huge.srt1"
                                        << ""
                                        << "";
    QTest::newRow("larger than 16 MiB, no length") << "nolength/huge.mp4"
                                                   << "/nolength/huge.srt1"
                                                   << ""
                                                   << "";
    QTest::newRow("body cut short") << "truncate/talk.mp4"
                                    << "/truncate/talk.srt1"
                                    << ""
                                    << "";
    QTest::newRow("stalls midway") << "stall/exact.mp4"
                                   << "/stall/exact.srt1"
                                   << ""
                                   << "";
    QTest::newRow("redirect to http") << "redirect-http/talk.mp4"
                                      << "/redirect-http/talk.srt1"
                                      << ""
                                      << "";
}

void tst_Network::downloadSubtitle()
{
    QFETCH(QString, entry);
    QFETCH(QString, request);
    QFETCH(QString, stored);
    QFETCH(QString, served);
    MainWindow window;
    QCOMPARE(placeShown(window), "文件夹：" + QDir::toNativeSeparators(workDir));

    int calls = 0;
    QString completedPath;
    window.downloadSubtitle(trusted.baseUrl() + entry, [&](const QString &path) {
        ++calls;
        completedPath = path;
    });
    QCOMPARE(calls, 0);
    QTRY_COMPARE_WITH_TIMEOUT(calls, 1, 20000);
    QTRY_VERIFY(window.findChildren<QNetworkReply *>().isEmpty());

    QCOMPARE(newRequests(), QStringList{request});
    QCOMPARE(completedPath, stored.isEmpty() ? QString() : networkFolder() + "/" + stored);
    // Every failure but a subtitle missing on the server is told.
    QCOMPARE(takeNetworkError(window).isEmpty(), !stored.isEmpty() || entry == "nosub.mp4");
    // Nothing but the finished subtitle, in the server's folder: no partial file, no temporary
    // left behind, nothing among the learner's files.
    QCOMPARE(workFiles(), QStringList{"local.mp3"});
    QCOMPARE(networkFiles(), stored.isEmpty() ? QStringList() : QStringList{stored});
    if (!stored.isEmpty()) {
        QFile local(completedPath), remote(serveDir.filePath(served));
        QVERIFY(local.open(QIODevice::ReadOnly));
        QVERIFY(remote.open(QIODevice::ReadOnly));
        QVERIFY(local.readAll() == remote.readAll());
    }
}

void tst_Network::downloadWithoutRequest_data()
{
    QTest::addColumn<QString>("entry");
    QTest::addColumn<QString>("existing"); // in the server's folder
    QTest::newRow("subtitle already present") << "sub/talk.mp4"
                                              << "talk.srt1";
    QTest::newRow("utf8 subtitle already present") << "%E8%AF%BE%E6%96%87.mp4"
                                                   << "课文.srt1";
    QTest::newRow("not a video") << "lesson.mp3"
                                 << "";
    QTest::newRow("URL ending in slash") << "sub/"
                                         << "";
    QTest::newRow("name is only a suffix") << "sub/.mp4"
                                           << "";
    QTest::newRow("backslash in name") << "..%5Cescape.mp4"
                                       << "";
    QTest::newRow("NUL after a hidden name") << ".bashrc%00.mp4"
                                             << "";
    QTest::newRow("NUL after a script name") << "run.sh%00.mp4"
                                             << "";
    QTest::newRow("line feed in name") << "a%0A.mp4"
                                       << "";
}

void tst_Network::downloadWithoutRequest()
{
    QFETCH(QString, entry);
    QFETCH(QString, existing);
    const QByteArray localBody = "1\n00:00:00,000 --> 00:00:01,000\nlocal copy\n";
    if (!existing.isEmpty()) {
        QVERIFY(QDir().mkpath(networkFolder()));
        QFile file(networkFolder() + "/" + existing);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(localBody);
    }
    const QStringList filesBefore = networkFiles();
    MainWindow window;

    int calls = 0;
    QString completedPath;
    window.downloadSubtitle(trusted.baseUrl() + entry, [&](const QString &path) {
        ++calls;
        completedPath = path;
    });
    // Answered before the call returns, without asking the server.
    QCOMPARE(calls, 1);
    QVERIFY(window.findChildren<QNetworkReply *>().isEmpty());
    QCOMPARE(completedPath, existing.isEmpty() ? QString() : networkFolder() + "/" + existing);
    QCOMPARE(workFiles(), QStringList{"local.mp3"});
    QCOMPARE(networkFiles(), filesBefore);
    QCOMPARE(QDir(workParent->path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot),
             QStringList{"工作 目录"});
    if (!existing.isEmpty()) {
        QFile file(completedPath);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), localBody);
    }
}

void tst_Network::unwritableWorkingDirectoryWritesNothing()
{
    const QString gone = workDir + "/gone";
    QSettings("Orvi", "OrviLoop").setValue("global/rootDir", gone);
    MainWindow window;
    QString completedPath = "not called";
    window.downloadSubtitle(trusted.baseUrl() + "sub/talk.mp4",
                            [&](const QString &path) { completedPath = path; });
    QTRY_VERIFY_WITH_TIMEOUT(completedPath != "not called", 20000);
    QVERIFY(completedPath.isEmpty());
    QCOMPARE(newRequests(), QStringList{"/sub/talk.srt1"});
    QVERIFY(!QFileInfo::exists(gone));
    QCOMPARE(workFiles(), QStringList{"local.mp3"});
}

void tst_Network::failedWriteLeavesNoPartialSubtitle()
{
#ifdef Q_OS_UNIX
    // A file size limit makes the disk "full" after 1 MiB, halfway through writing the subtitle.
    rlimit saved{};
    QCOMPARE(getrlimit(RLIMIT_FSIZE, &saved), 0);
    rlimit limited = saved;
    limited.rlim_cur = 1024 * 1024;
    const auto savedHandler = std::signal(SIGXFSZ, SIG_IGN);
    QCOMPARE(setrlimit(RLIMIT_FSIZE, &limited), 0);

    MainWindow window;
    QString completedPath = "not called";
    window.downloadSubtitle(trusted.baseUrl() + "exact.mp4",
                            [&](const QString &path) { completedPath = path; });
    const bool completed = QTest::qWaitFor([&] { return completedPath != "not called"; }, 20000);
    setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, savedHandler);

    QVERIFY(completed);

    QVERIFY(completedPath.isEmpty());
    QCOMPARE(newRequests(), QStringList{"/exact.srt1"});
    QCOMPARE(workFiles(), QStringList{"local.mp3"});
    QCOMPARE(networkFiles(), QStringList());
#else
    QSKIP("needs a file size limit");
#endif
}

void tst_Network::videoFailureIsShown_data()
{
    QTest::addColumn<bool>("trustedServer");
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("mpvMessage"); // the Qt engine plays no network video at all
    QTest::addColumn<bool>("mpvOpens");      // the video was opened before it failed
    QTest::newRow("certificate not trusted") << false << "sub/talk.mp4"
                                             << "证书不受信任" << false;
    QTest::newRow("redirect to http") << true << "redirect-http/sub/talk.mp4"
                                      << "Insecure redirect" << false;
    QTest::newRow("GET redirected where HEAD was not") << true << "lie/sub/talk.mp4"
                                                       << "打不开这个媒体" << false;
    QTest::newRow("missing on server (404)") << true << "missing.mp4"
                                             << "服务器上没有这个文件" << false;
    QTest::newRow("stalls midway") << true << "stall/sub/talk.mp4"
                                   << "秒没有发来数据" << true;
}

// The stream is checked as the catalogue is; what cannot be played safely is refused, and the
// learner is told why.
void tst_Network::videoFailureIsShown()
{
    QFETCH(bool, trustedServer);
    QFETCH(QString, path);
    QFETCH(QString, mpvMessage);
    QFETCH(bool, mpvOpens);
    PlayerWindow window(nullptr, QString());
    const bool qtEngine = window.mediaEngine()->name() == "qt";
    window.show();
    window.loadSubtitles((trustedServer ? trusted : untrusted).baseUrl() + path);
    const QString expected = qtEngine ? "libmpv" : mpvMessage;
    QTRY_VERIFY2_WITH_TIMEOUT(window.windowTitle().startsWith("无法播放：") &&
                                  window.windowTitle().contains(expected),
                              qPrintable(window.windowTitle()), timeoutMs + 20000);
    QCOMPARE(window.mediaEngine()->mediaStatus(), QMediaPlayer::InvalidMedia);
    QTRY_VERIFY(!window.findChildren<QMessageBox *>().isEmpty());
    QCOMPARE(window.mediaEngine()->duration() > 0, mpvOpens && !qtEngine);
    if (qtEngine)
        QVERIFY(newRequests().isEmpty());
}

void tst_Network::doubleClickStreamsVideo_data()
{
    QTest::addColumn<QString>("entry");
    QTest::addColumn<QString>("stored");
    QTest::addColumn<int>("cues");
    QTest::addColumn<QString>("newFolder"); // chosen with "本地" before "网络"; empty: the stored one
    QTest::newRow("subtitle downloaded") << "sub/talk.mp4"
                                         << "talk.srt1" << subtitleCues << "";
    QTest::newRow("no subtitle on server (404)") << "nosub.mp4"
                                                 << "" << 0 << "";
    QTest::newRow("subtitle downloaded after changing folder") << "sub/talk.mp4"
                                                               << "talk.srt1" << subtitleCues << "新 目录";
    QTest::newRow("redirect within https") << "redirect/sub/talk.mp4"
                                           << "talk.srt1" << subtitleCues << "";
}

void tst_Network::doubleClickStreamsVideo()
{
    QFETCH(QString, entry);
    QFETCH(QString, stored);
    QFETCH(int, cues);
    QFETCH(QString, newFolder);
    MainWindow window;
    QString folder = workDir;
    if (!newFolder.isEmpty()) {
        // What "本地" does once the learner has picked the folder; the store keeps the old one.
        folder = workParent->filePath(newFolder);
        QVERIFY(QDir().mkpath(folder));
        chooseFolder(window, folder);
    }
    // The learner's own subtitle of a lesson of the same name.
    const QByteArray ownSubtitle = "1\n00:00:00,000 --> 00:00:01,000\nmy own words\n";
    QFile own(folder + "/talk.srt");
    QVERIFY(own.open(QIODevice::WriteOnly));
    own.write(ownSubtitle);
    own.close();
    const QStringList ownListing = QDir(folder).entryList(QDir::Files | QDir::Hidden, QDir::Name);
    // The catalogue and everything it names are reached through the redirect too.
    const QString redirect = entry.startsWith("redirect/") ? "redirect/" : "";
    const QString finalPath = "/" + entry.mid(redirect.size());
    qputenv("ORVILOOP_CATALOGUE_URL", (trusted.baseUrl() + redirect).toUtf8());
    clickCatalogueAndWait(window);
    const int row = rows(window).indexOf(finalPath.mid(1));
    QVERIFY(row >= 0);

    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    doubleClickRow(window, row);
    QTRY_COMPARE_WITH_TIMEOUT(window.findChildren<PlayerWindow *>().size(), 1, 20000);
    // A network video opens without a message box.
    QVERIFY(window.findChildren<QMessageBox *>(Qt::FindDirectChildrenOnly).isEmpty());
    QPointer<PlayerWindow> playerWindow = window.findChildren<PlayerWindow *>().first();
    QVERIFY(playerWindow->isVisible());
    QCOMPARE(playerWindow->mediaEngine()->source(), QUrl(trusted.baseUrl() + entry));

    MediaEngine *player = playerWindow->mediaEngine();
    if (player->name() == "qt") {
        QTRY_VERIFY(playerWindow->windowTitle().contains("libmpv"));
        QCOMPARE(player->mediaStatus(), QMediaPlayer::InvalidMedia);
    } else {
        const auto reachedLoaded = [player] {
            const QMediaPlayer::MediaStatus status = player->mediaStatus();
            return status >= QMediaPlayer::LoadedMedia && status != QMediaPlayer::InvalidMedia;
        };
        QTRY_VERIFY_WITH_TIMEOUT(reachedLoaded() || player->mediaStatus() == QMediaPlayer::InvalidMedia,
                                 30000);
        QVERIFY2(reachedLoaded(), qPrintable(playerWindow->windowTitle()));
        QVERIFY(player->duration() > 2000);
        // mpv asks for where the redirects lead, and follows none itself.
        QVERIFY(newRequests().contains(finalPath));
        QVERIFY(redirect.isEmpty() || !newRequests().contains("/" + entry));
    }

    // The learner's files stay as they were; the download is kept in the server's folder.
    QCOMPARE(QDir(folder).entryList(QDir::Files | QDir::Hidden, QDir::Name), ownListing);
    QVERIFY(own.open(QIODevice::ReadOnly));
    QCOMPARE(own.readAll(), ownSubtitle);
    const QString serverFolder = folder + "/网络字幕/127.0.0.1_" + QString::number(trusted.serverPort());
    QCOMPARE(QDir(serverFolder).entryList(QDir::Files | QDir::Hidden, QDir::Name),
             stored.isEmpty() ? QStringList() : QStringList{stored});
    if (!newFolder.isEmpty())
        QCOMPARE(workFiles(), QStringList{"local.mp3"});
    QCOMPARE(playerWindow->repeatSession()->sentences().size(), cues);
    QCOMPARE(playerWindow->subtitleFile(), stored.isEmpty() ? QString() : serverFolder + "/" + stored);
}

QTEST_MAIN(tst_Network)
#include "tst_network.moc"
