#include "app/Startup.h"

#include <QApplication>

#include <cstring>

int main(int argc, char* argv[])
{
    // --help needs no display: it is answered before the toolkit looks for one.
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--") == 0)
            break;
        if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-help") == 0 ||
            std::strcmp(argv[i], "-h") == 0) {
            QCoreApplication core(argc, argv);
            return Startup::printHelp();
        }
    }
    QApplication app(argc, argv);
    return Startup::start(app);
}
