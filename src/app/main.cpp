#include "app/Startup.h"

#include <QApplication>
#include <QSystemTrayIcon>

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    return Startup::run(app, QSystemTrayIcon::isSystemTrayAvailable());
}
