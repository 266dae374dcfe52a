// The yardstick for start-up: a bare Qt program with a tray icon and a window, built like ours and
// ended at its first paint by the same means (bench/startup.sh).

#include "FirstPaint.h"

#include <QApplication>
#include <QIcon>
#include <QLabel>
#include <QMainWindow>
#include <QPixmap>
#include <QSystemTrayIcon>

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    FirstPaint firstPaint;
    app.installEventFilter(&firstPaint);

    QPixmap picture(22, 22);
    picture.fill(Qt::darkGreen);
    QSystemTrayIcon tray{QIcon(picture)};
    tray.setToolTip(QStringLiteral("bare"));
    tray.show();

    QMainWindow window;
    window.setWindowTitle(QStringLiteral("bare"));
    window.setCentralWidget(new QLabel(QStringLiteral("bare Qt tray program")));
    window.resize(400, 300);
    window.show();
    return app.exec();
}
