#include "core/library/startup.h"
#include "core/library/termination.h"
#include "gui/afterfirstpaint.h"
#include "gui/library/mainwindow.h"
#include "media/mediaengine.h"

#include <QApplication>
#include <QTimer>

#include <clocale>
#include <cstdlib>

namespace {

// The windows are closed as if the learner had closed them, so the place in the lesson and the
// working directory are saved, and a running export stopped, before the program ends; within a
// second in any case. What is saved on the way is written in one step each (settings,
// subtitles): cutting the tidy end short loses no file.
void closeWindowsOnTerminationSignals()
{
    constexpr int graceMs = 800;
    onTerminationSignals(
        [] {
            QApplication::closeAllWindows();
            QCoreApplication::quit();
        },
        graceMs);
}

} // namespace

int main(int argc, char *argv[])
{
#ifdef Q_OS_WIN
    // Lets the console print the UTF-8 debug lines legibly.
    std::system("chcp 65001");
#endif
    QApplication app(argc, argv);
    // QApplication takes the number format from the learner's locale; libmpv will not start
    // unless it is the C one. Qt's own number formatting goes through QLocale and is unaffected.
    std::setlocale(LC_NUMERIC, "C");
    QCoreApplication::setOrganizationName("Orvi");
    QCoreApplication::setApplicationName("OrviLoop");

    MainWindow window;
    window.show();
    closeWindowsOnTerminationSignals();

    const QString path = playArgument(QCoreApplication::arguments());
    if (!path.isEmpty()) {
        // The player is shown first and makes its engine once painted.
        QTimer::singleShot(0, &window, [&window, path] { window.openPlayer(path); });
    } else {
        // The media engine's libraries load on a thread of their own while the learner chooses a
        // lesson. Not before the window is painted: loading them holds the dynamic loader's lock,
        // which this thread takes itself whenever it loads a plugin or first uses a thread-local
        // object, as the window's construction and first paint do.
        new AfterFirstPaint(&window, prepareMediaEngine);
    }
    return app.exec();
}
