#pragma once

#include "gui/library/mainwindow.h"
#include "testsupport.h"

#include <QApplication>
#include <QFileDialog>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QTest>
#include <QTimer>

// The library window as the learner sees it: the rows of its list, what each row opens, the place
// named in the status bar, and the folder chosen with "本地".
namespace MainWindowTest {

inline QListWidget *list(const MainWindow &window)
{
    return childNamed<QListWidget>(window, "listMedia");
}

inline QStringList rows(const MainWindow &window)
{
    QStringList texts;
    for (int row = 0; row < list(window)->count(); ++row)
        texts << list(window)->item(row)->text();
    return texts;
}

// The file or address each row opens.
inline QStringList lessons(const MainWindow &window)
{
    QStringList opened;
    for (int row = 0; row < list(window)->count(); ++row)
        opened << list(window)->item(row)->data(MainWindow::lessonRole).toString();
    return opened;
}

inline QString placeShown(const MainWindow &window)
{
    return childNamed<QLabel>(window, "placeLabel")->text();
}

// Clicks "本地" and picks the folder in the dialog that opens.
inline void chooseFolder(MainWindow &window, const QString &folder)
{
    // Qt's own dialog, which the test can answer, also where the desktop offers its own.
    QCoreApplication::setAttribute(Qt::AA_DontUseNativeDialogs);
    QTimer answer;
    answer.setInterval(20);
    QObject::connect(&answer, &QTimer::timeout, &answer, [&] {
        if (auto *dialog = qobject_cast<QFileDialog *>(QApplication::activeModalWidget())) {
            dialog->setDirectory(folder);
            // As "Choose" does; QFileDialog keeps its own accept() protected.
            static_cast<QDialog *>(dialog)->accept();
            if (dialog->isVisible())
                dialog->reject();
        }
    });
    answer.start();
    childNamed<QPushButton>(window, "btnSetDir")->click();
}

// A real double-click on a row.
inline void doubleClickRow(const MainWindow &window, int row)
{
    QListWidget *view = list(window);
    QListWidgetItem *item = view->item(row);
    view->scrollToItem(item);
    const QPoint at = view->visualItemRect(item).center();
    QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, at);
    QTest::mouseDClick(view->viewport(), Qt::LeftButton, {}, at);
}

} // namespace MainWindowTest
