// What weeks of running cost in memory: the connecting animation for 30 minutes (its ticks driven
// as fast as the window takes them, not in real time) and 100,000 log lines streamed into the
// window, each printing the resident memory as it goes. Targets: the animation grows RSS by less
// than 1 MB; the log's RSS stays bounded once it is full.
//
//   bench_soak [MINUTES [LINES]]      defaults: 30 100000
//
// Runs headless by default (QT_QPA_PLATFORM=offscreen); no engine runs and nothing leaves the
// machine.

#include "BenchSupport.h"
#include "app/MainWindow.h"
#include "app/Prompt.h"
#include "app/Startup.h"
#include "connection/TrayAnimation.h"
#include "connection/VpnConnection.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <cstdio>
#include <cstdlib>
#include <ctime>

namespace {

using Bench::residentKiB;
using Bench::threadCpuMs;

double mb(qint64 kib)
{
    return kib / 1024.0;
}

void soakAnimation(MainWindow& window, int minutes)
{
    const int ticksPerMinute = 60000 / TrayAnimation::tickMilliseconds;
    window.setTrayIcon(TrayConnecting);
    // One minute first, so that every picture has been drawn once before the baseline.
    for (int tick = 0; tick < ticksPerMinute; ++tick) {
        window.trayIconSetConnectionUpdate();
        QCoreApplication::processEvents();
    }
    const qint64 start = residentKiB();
    const double cpuStart = threadCpuMs();
    std::printf("Connecting animation, %d minutes of ticks (target: RSS growth < 1 MB)\n", minutes);
    std::printf("  minute %3d: RSS %.1f MB\n", 1, mb(start));
    for (int minute = 2; minute <= minutes; ++minute) {
        for (int tick = 0; tick < ticksPerMinute; ++tick) {
            window.trayIconSetConnectionUpdate();
            QCoreApplication::processEvents();
        }
        if (minute % 5 == 0 || minute == minutes)
            std::printf("  minute %3d: RSS %.1f MB\n", minute, mb(residentKiB()));
    }
    const double cpuPerTick = (threadCpuMs() - cpuStart) / ((minutes - 1) * ticksPerMinute);
    window.setTrayIcon(TrayDisconnected);
    std::printf("  growth after the first minute: %+.2f MB; cpu %.3f ms per tick (window and tray)\n\n",
                mb(residentKiB() - start), cpuPerTick);
    std::fflush(stdout);
}

void soakLog(MainWindow& window, int lines)
{
    // Lines arrive as the engine's reads do: a few per turn of the event loop.
    constexpr int linesPerTurn = 20;
    std::printf("%d log lines streamed into the window (target: RSS bounded once the log is full)\n", lines);
    const qint64 start = residentKiB();
    const double cpuStart = threadCpuMs();
    qint64 atFifth = 0;
    for (int line = 0; line < lines; ++line) {
        Q_EMIT window.connection()->logText(
            QStringLiteral("Mon Jan  1 00:00:00 2024 us=%1 UDP link remote: [AF_INET]192.0.2.1:1194 data "
                           "channel packet, %2 bytes")
                .arg(line)
                .arg(line * 37 % 1500));
        if ((line + 1) % linesPerTurn == 0)
            QCoreApplication::processEvents();
        if ((line + 1) % (lines / 10) == 0) {
            QCoreApplication::processEvents();
            const qint64 now = residentKiB();
            if (line + 1 == lines / 5)
                atFifth = now;
            std::printf("  %7d lines: RSS %.1f MB\n", line + 1, mb(now));
        }
    }
    QCoreApplication::processEvents();
    const double cpuPerLine = (threadCpuMs() - cpuStart) / lines;
    std::printf("  growth: %+.2f MB in all, %+.2f MB after the first fifth; cpu %.3f ms per line\n",
                mb(residentKiB() - start), mb(residentKiB() - atFifth), cpuPerLine);
    std::fflush(stdout);
}

} // namespace

int main(int argc, char* argv[])
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    // The update check goes to a closed port on this machine, never to the network.
    qputenv("QLUMAR_UPDATE_URL", "http://127.0.0.1:9/updates.info");
    QTemporaryDir home;
    qputenv("HOME", QFile::encodeName(home.path()));
    QApplication app(argc, argv);
    Prompt::setTestMode(true);
    if (!Startup::enterProfileRoot(nullptr)) {
        std::fprintf(stderr, "cannot enter the profile root\n");
        return 1;
    }
    const int minutes = argc > 1 ? std::atoi(argv[1]) : 30;
    const int lines = argc > 2 ? std::atoi(argv[2]) : 100000;

    MainWindow window;
    window.show();
    QCoreApplication::processEvents();
    if (minutes > 1)
        soakAnimation(window, minutes);
    if (lines >= 10)
        soakLog(window, lines);
    return 0;
}
