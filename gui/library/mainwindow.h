#pragma once

#include <QFileInfo>
#include <QList>
#include <QMainWindow>
#include <QStringList>

#include <functional>

class QLabel;
class QListWidgetItem;
class QNetworkAccessManager;
class QNetworkReply;
class PlayerWindow;

namespace Ui {
class MainWindow;
}

// The launcher: lists the media files of the working directory, or the network catalogue.
class MainWindow : public QMainWindow
{
    Q_OBJECT

public:
    explicit MainWindow(QWidget *parent = nullptr);
    ~MainWindow() override;

    void openPlayer(const QString &filePath);

    using SubtitleCompletion = std::function<void(const QString &localPath)>;
    void downloadSubtitle(const QString &videoUrl, SubtitleCompletion completion);

    // Base URL of the catalogue, ending in "/": ORVILOOP_CATALOGUE_URL or the built-in default.
    static QString catalogueBaseUrl();

    // The role under which a row of the list holds the lesson it opens (a path or a URL).
    static constexpr int lessonRole = Qt::UserRole;

private slots:
    void onSetDirClicked();
    void onExitClicked();
    void onLessonActivated(QListWidgetItem *item);

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    void loadNetworkCatalogue();
    void onCatalogueReply(QNetworkReply *reply);
    void showNetworkError(const QString &text);
    void onSubtitleReply(QNetworkReply *reply, SubtitleCompletion completion, const QString &localPath);
    void openNetworkPlayer(const QString &videoUrl);
    // The shown player of a lesson (a file under any spelling of its path, or a network URL).
    PlayerWindow *openPlayerOf(const QString &lesson) const;
    // Brings that player to the front; false when the lesson is not open.
    bool raiseOpenPlayer(const QString &lesson) const;
    void fillSubtitleLanguages();
    void onSubtitleLanguageChosen(int row);
    void loadRootDir();
    void saveRootDir();
    void loadMediaList(const QString &dir);
    void showListedPlace(const QString &place);
    void addListedLesson(const QString &name, const QString &lesson);

    QNetworkAccessManager *networkManager = nullptr;
    Ui::MainWindow *ui = nullptr;
    // Catalogue requests whose reply is still to be listed; a local listing forgets them.
    QList<QNetworkReply *> pendingCatalogues;
    // The next catalogue that arrives takes the place of what the list shows.
    bool catalogueReplacesList = false;
    QString rootDir;
    // Which folder (or catalogue) the list shows, in the status bar.
    QLabel *placeLabel = nullptr;
};
