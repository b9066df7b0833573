#include "gui/library/mainwindow.h"
#include "core/library/startup.h"
#include "core/library/termination.h"

#include <QApplication>
#include <QTimer>

#include <clocale>
#include <cstdlib>

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
    if (!path.isEmpty())
        QTimer::singleShot(0, &window, [&window, path] { window.openPlayer(path); });
    return app.exec();
}
