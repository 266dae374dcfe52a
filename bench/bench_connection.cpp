// How the manager copes with an engine that floods its log before the tunnel comes up: the time
// from Connect to the connected state, and the longest the event loop went without a turn while
// the flood was handled (the window stays responsive only if that is short). First, Disconnect in
// the middle of a flood of BENCH_DISCONNECT_LINES (1000000) lines: the longest gap from Connect to
// the idle state and the manager's peak memory. Then one line of BENCH_LONG_LINE_MB (200) MB.
// Then BENCH_STEADY_LINES (500) lines at BENCH_STEADY_RATE (50) a second, with the tunnel up and
// still connecting: the GUI thread's processor time per line. Two rates tell the cost of each line
// from what the thread spends anyway (the connecting animation, timers).
//
//   bench_connection [LINES...]      default: 50000 100000 200000; BENCH_REPEAT runs each (3)
//
// Runs headless by default (QT_QPA_PLATFORM=offscreen) with the bundled engine from bin/.

#include "BenchSupport.h"
#include "app/MainWindow.h"
#include "app/Prompt.h"
#include "app/Startup.h"
#include "connection/CappedLog.h"
#include "profiles/VpnItem.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QProcess>
#include <QTemporaryDir>
#include <QTextBlock>
#include <QTextDocument>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <ctime>

namespace {

using Bench::residentKiB;
using Bench::statusKiB;
using Bench::threadCpuMs;

struct Result
{
    qint64 connectMs = -1;
    qint64 cpuMs = 0;       // the GUI thread's processor time from Connect to connected
    qint64 maxGapMs = 0;    // wall clock
    double maxGapCpuMs = 0; // processor time the GUI thread spent between two turns
    int blocks = 0;
    qint64 characters = 0;
};

bool makePkcs12(const QString& dir)
{
    const auto run = [&dir](const QStringList& args) {
        QProcess process;
        process.setWorkingDirectory(dir);
        process.start(QStringLiteral("openssl"), args);
        return process.waitForFinished(60000) && process.exitStatus() == QProcess::NormalExit &&
               process.exitCode() == 0;
    };
    return run({"req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", "key.pem", "-out", "cert.pem",
                "-subj", "/CN=bench", "-days", "2"}) &&
           run({"pkcs12", "-export", "-inkey", "key.pem", "-in", "cert.pem", "-out", "bench.p12", "-passout",
                "pass:bench"});
}

VpnItem* benchProfile(MainWindow& window)
{
    auto* list = window.findChild<QListWidget*>(QStringLiteral("vpnList"));
    for (int i = 0; i < list->count(); ++i) {
        if (auto* item = dynamic_cast<VpnItem*>(list->item(i)))
            return item;
    }
    auto* item = new VpnItem(QDir::currentPath() + QStringLiteral("/0000/conf"), QStringLiteral("0000"));
    list->addItem(item);
    return item;
}

// Shows the window with the bench profile selected and its password queued: the next
// vpnConnectSlot() connects. Returns the log view.
QPlainTextEdit* readyToConnect(MainWindow& window)
{
    window.show();
    window.vpnItemPressedSlot(benchProfile(window));
    QApplication::processEvents();
    Prompt::answerText(QStringLiteral("bench"));
    return window.findChild<QPlainTextEdit*>(QStringLiteral("vpnLog"));
}

// Connects the profile readyToConnect() chose; a stand-in engine script is used for this
// connection only.
bool connectNow(MainWindow& window)
{
    window.vpnConnectSlot();
    qunsetenv("QLUMAR_ENGINE_PATH");
    if (!window.isVpnRunning())
        std::fprintf(stderr, "the engine did not start\n");
    return window.isVpnRunning();
}

// Writes a stand-in engine script and has the manager start it.
bool useScriptEngine(const QString& path, const QByteArray& text)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(text) < 0)
        return false;
    file.close();
    file.setPermissions(file.permissions() | QFileDevice::ExeOwner);
    qputenv("QLUMAR_ENGINE_PATH", QFile::encodeName(path));
    return true;
}

struct DisconnectResult
{
    bool ok = false;
    bool tunnelUpBeforeDisconnect = false;
    qint64 disconnectAtMs = -1; // after Connect
    qint64 idleAfterMs = -1;    // after Disconnect
    qint64 maxGapMs = 0;        // Connect to idle
    qint64 maxGapAfterDisconnectMs = 0;
    double maxGapCpuMs = 0; // processor time the GUI thread spent between two turns
    int blocks = 0;
    qint64 characters = 0;
};

// Disconnect once the flood is well under way: the log has been trimmed and far more is still
// coming than it shows.
DisconnectResult runDisconnectDuringFlood(long long lines)
{
    DisconnectResult result;
    qputenv("QLUMAR_ENGINE_FLOOD_LINES", QByteArray::number(lines));
    qputenv("QLUMAR_ENGINE_CONNECT_DELAY_MS", "0");

    MainWindow window;
    QPlainTextEdit* log = readyToConnect(window);
    QElapsedTimer clock;
    clock.start();
    if (!connectNow(window))
        return result;

    QElapsedTimer sinceTurn;
    sinceTurn.start();
    qint64 disconnectedAt = -1;
    qint64 trimmedAt = -1;
    double cpuAtTurn = threadCpuMs();
    QTimer ticker;
    ticker.setTimerType(Qt::PreciseTimer);
    ticker.setInterval(1);
    QObject::connect(&ticker, &QTimer::timeout, [&] {
        const qint64 gap = sinceTurn.restart();
        result.maxGapMs = std::max(result.maxGapMs, gap);
        const double cpu = threadCpuMs();
        result.maxGapCpuMs = std::max(result.maxGapCpuMs, cpu - cpuAtTurn);
        cpuAtTurn = cpu;
        if (disconnectedAt >= 0)
            result.maxGapAfterDisconnectMs = std::max(result.maxGapAfterDisconnectMs, gap);
        if (trimmedAt < 0 && (log->document()->blockCount() >= CappedLog::defaultMaxLines ||
                              log->document()->firstBlock().text() == CappedLog::droppedNotice()))
            trimmedAt = clock.elapsed();
        if (disconnectedAt < 0 && trimmedAt >= 0 && clock.elapsed() - trimmedAt >= 500) {
            result.tunnelUpBeforeDisconnect = window.isVpnInitialized();
            disconnectedAt = clock.elapsed();
            window.vpnDisConnectSlot();
        }
        if (disconnectedAt >= 0 && !window.isVpnRunning()) {
            result.idleAfterMs = clock.elapsed() - disconnectedAt;
            QApplication::exit(0);
        }
    });
    ticker.start();
    QTimer::singleShot(600000, [] { QApplication::exit(2); });
    result.ok = QApplication::exec() == 0;
    ticker.stop();
    result.disconnectAtMs = disconnectedAt;
    result.blocks = log->document()->blockCount();
    result.characters = log->document()->characterCount();
    return result;
}

Result runOnce(long long lines)
{
    Result result;
    qputenv("QLUMAR_ENGINE_FLOOD_LINES", QByteArray::number(lines));
    qputenv("QLUMAR_ENGINE_CONNECT_DELAY_MS", "0");

    MainWindow window;
    readyToConnect(window);
    QElapsedTimer clock;
    clock.start();
    const double cpuStart = threadCpuMs();
    if (!connectNow(window))
        return result;

    QElapsedTimer sinceTurn;
    sinceTurn.start();
    double cpuAtTurn = threadCpuMs();
    QTimer ticker;
    ticker.setTimerType(Qt::PreciseTimer);
    ticker.setInterval(1);
    QObject::connect(&ticker, &QTimer::timeout, [&] {
        result.maxGapMs = std::max(result.maxGapMs, sinceTurn.restart());
        const double cpu = threadCpuMs();
        result.maxGapCpuMs = std::max(result.maxGapCpuMs, cpu - cpuAtTurn);
        cpuAtTurn = cpu;
        if (window.isVpnInitialized() && result.connectMs < 0) {
            result.connectMs = clock.elapsed();
            result.cpuMs = qint64(cpu - cpuStart);
            QApplication::exit(0);
        }
        if (!window.isVpnRunning())
            QApplication::exit(1);
    });
    ticker.start();
    QTimer::singleShot(600000, [] { QApplication::exit(2); });
    QApplication::exec();
    ticker.stop();

    auto* log = window.findChild<QPlainTextEdit*>(QStringLiteral("vpnLog"));
    result.blocks = log->document()->blockCount();
    result.characters = log->document()->characterCount();
    window.vpnDisConnectSlot();
    window.engineProcess()->waitForFinished(5000);
    return result;
}

// An engine that writes one line of `megabytes` MB without a line break and exits: how fast the
// manager takes it and how much memory that costs.
struct LongLineResult
{
    bool ok = false;
    qint64 idleAfterMs = -1;
    qint64 cpuMs = 0; // the GUI thread's processor time from Connect to idle
    qint64 maxGapMs = 0;
    qint64 characters = 0;
};

LongLineResult runLongLine(int megabytes, const QString& scriptDir)
{
    LongLineResult result;
    if (!useScriptEngine(scriptDir + QStringLiteral("/long-line.sh"),
                         "#!/bin/sh\nhead -c " + QByteArray::number(qint64(megabytes) * 1024 * 1024) +
                             " /dev/zero | tr '\\0' x\n"))
        return result;

    MainWindow window;
    QPlainTextEdit* log = readyToConnect(window);
    QElapsedTimer clock;
    clock.start();
    const double cpuStart = threadCpuMs();
    if (!connectNow(window))
        return result;
    QElapsedTimer sinceTurn;
    sinceTurn.start();
    QTimer ticker;
    ticker.setTimerType(Qt::PreciseTimer);
    ticker.setInterval(1);
    QObject::connect(&ticker, &QTimer::timeout, [&] {
        result.maxGapMs = std::max(result.maxGapMs, sinceTurn.restart());
        if (!window.isVpnRunning()) {
            result.idleAfterMs = clock.elapsed();
            result.cpuMs = qint64(threadCpuMs() - cpuStart);
            QApplication::exit(0);
        }
    });
    ticker.start();
    QTimer::singleShot(600000, [] { QApplication::exit(2); });
    result.ok = QApplication::exec() == 0;
    result.characters = log->document()->characterCount();
    return result;
}

// An engine that writes `lines` log lines at `perSecond` a second, as a chatty connection does for
// weeks: the GUI thread's processor time per line, the longest gap, and the memory the log holds.
struct SteadyResult
{
    bool ok = false;
    double cpuMsPerLine = 0;
    qint64 maxGapMs = 0;
    qint64 rssGrowthKiB = 0;
    double linesPerSecond = 0; // as they reached the log
};

// connected: the tunnel comes up first, as for a connection that runs for weeks; otherwise it
// never does and every line is searched for the texts the manager reacts to.
SteadyResult runSteadyStream(int lines, int perSecond, bool connected, const QString& scriptDir)
{
    SteadyResult result;
    // One write per line, as the engine flushes each line it logs. Each line is due at its own
    // time from the start: a shell loop that starts a program or two per line falls behind the
    // rate on a busy machine, and then every second's fixed cost is shared by fewer lines.
    const QByteArray up =
        connected ? "echo \"$(date '+%a %b %e %T %Y') Initialization Sequence Completed\"\n" : "";
    const QByteArray text =
        "#!/bin/sh\n" + up +
        "exec perl -MTime::HiRes=time,sleep -e '$| = 1; my ($n, $rate) = @ARGV; my $t0 = time;\n"
        "for my $i (0 .. $n - 1) {\n"
        "  my $wait = $t0 + $i / $rate - time; sleep($wait) if $wait > 0;\n"
        "  print scalar(localtime) . \" us=$i UDP link remote: [AF_INET]192.0.2.1:1194 data channel "
        "packet\\n\";\n"
        "}\n"
        "sleep 60' " +
        QByteArray::number(lines) + " " + QByteArray::number(perSecond) + "\n";
    if (!useScriptEngine(scriptDir + QStringLiteral("/steady.sh"), text))
        return result;

    MainWindow window;
    QPlainTextEdit* log = readyToConnect(window);
    const qint64 rssBefore = residentKiB();
    const double cpuStart = threadCpuMs();
    if (!connectNow(window))
        return result;
    const QString lastLine = QStringLiteral(" us=%1 ").arg(lines - 1);
    const int firstCounted = lines / 10;
    const QString tenthLine = QStringLiteral(" us=%1 ").arg(firstCounted);
    double tenthAt = -1;
    QElapsedTimer sinceTenth;
    // A slow ticker: every wake-up of the GUI thread costs it processor time of its own, so one
    // ticking as often as the lines come would be counted as much as the log is.
    constexpr int tickMs = 200;
    QElapsedTimer sinceTurn;
    sinceTurn.start();
    QTimer ticker;
    ticker.setInterval(tickMs);
    QObject::connect(&ticker, &QTimer::timeout, [&] {
        result.maxGapMs = std::max(result.maxGapMs, sinceTurn.restart() - tickMs);
        // Each read ends with its line break, so the last line shown is the block before last.
        const QTextBlock last = log->document()->lastBlock();
        // Counted from the tenth line on, so the start of the engine is not part of it. A tick
        // sees a few reads at once, so the tenth line is looked for among the newest lines.
        bool tenthShown = false;
        for (QTextBlock b = last;
             tenthAt < 0 && !tenthShown && b.isValid() && last.blockNumber() - b.blockNumber() < 200;
             b = b.previous())
            tenthShown = b.text().contains(tenthLine);
        if (tenthShown) {
            tenthAt = threadCpuMs();
            sinceTenth.start();
        }
        if (last.text().contains(lastLine) || last.previous().text().contains(lastLine)) {
            const double cpu = threadCpuMs() - (tenthAt < 0 ? cpuStart : tenthAt);
            result.cpuMsPerLine = cpu / (lines - firstCounted);
            if (sinceTenth.isValid() && sinceTenth.elapsed() > 0)
                result.linesPerSecond = (lines - firstCounted) * 1000.0 / sinceTenth.elapsed();
            result.rssGrowthKiB = residentKiB() - rssBefore;
            QApplication::exit(0);
        }
    });
    ticker.start();
    QTimer::singleShot(lines * 1000 / perSecond + 60000, [] { QApplication::exit(2); });
    result.ok = QApplication::exec() == 0;
    if (!result.ok)
        std::fprintf(stderr, "last line shown: %s\n",
                     qPrintable(log->document()->lastBlock().previous().text()));
    window.vpnDisConnectSlot();
    window.engineProcess()->waitForFinished(5000);
    return result;
}

} // namespace

int main(int argc, char* argv[])
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    // The update check goes to a closed port on this machine, never to the network.
    qputenv("QLUMAR_UPDATE_URL", "http://127.0.0.1:9/updates.info");

    QList<long long> counts;
    for (int i = 1; i < argc; ++i)
        counts << QByteArray(argv[i]).toLongLong();
    if (counts.isEmpty())
        counts = {50000, 100000, 200000};

    QTemporaryDir home;
    qputenv("HOME", QFile::encodeName(home.path()));
    // The log's speed is measured against the simulator, which needs no server.
    qputenv("QLUMAR_ENGINE", "simulator");
    if (!Startup::enterProfileRoot(nullptr) || !makePkcs12(home.path())) {
        std::fprintf(stderr, "cannot prepare the profile (is openssl installed?)\n");
        return 1;
    }
    QDir().mkpath(QStringLiteral("0000"));
    QFile conf(QStringLiteral("0000/conf"));
    if (!conf.open(QIODevice::WriteOnly) ||
        conf.write("#\n# qLumarVpnName Bench\n#\nremote vpn.example.org\nrport 1194\npkcs12 " +
                   QFile::encodeName(home.path()) + "/bench.p12\n") < 0)
        return 1;
    conf.close();
    Prompt::setTestMode(true);

    // First, while the process is fresh, so its peak memory is this case's.
    const long long disconnectLines = qEnvironmentVariableIsSet("BENCH_DISCONNECT_LINES")
                                          ? QByteArray(qgetenv("BENCH_DISCONNECT_LINES")).toLongLong()
                                          : 1000000;
    if (disconnectLines > 0) {
        const DisconnectResult d = runDisconnectDuringFlood(disconnectLines);
        std::printf("Disconnect during a %lld-line flood (targets: max gap < 100 ms, peak RSS < 150 MB)\n",
                    disconnectLines);
        std::printf("  %s; Disconnect %lld ms after Connect (tunnel up before: %s), idle %lld ms later\n",
                    d.ok ? "ended" : "DID NOT END", d.disconnectAtMs,
                    d.tunnelUpBeforeDisconnect ? "yes" : "no", d.idleAfterMs);
        std::printf("  max gap %lld ms (cpu %.1f ms; after Disconnect %lld ms), log %d blocks %.1f MB, peak "
                    "RSS %.1f MB, "
                    "RSS now %.1f MB\n\n",
                    d.maxGapMs, d.maxGapCpuMs, d.maxGapAfterDisconnectMs, d.blocks, d.characters / 1048576.0,
                    statusKiB("VmHWM") / 1024.0, residentKiB() / 1024.0);
        std::fflush(stdout);
    }

    const int longLineMb = qEnvironmentVariableIsSet("BENCH_LONG_LINE_MB")
                               ? qEnvironmentVariableIntValue("BENCH_LONG_LINE_MB")
                               : 200;
    if (longLineMb > 0) {
        const LongLineResult l = runLongLine(longLineMb, home.path());
        std::printf("One %d MB line without a line break, then the engine exits\n", longLineMb);
        std::printf(
            "  %s; idle %lld ms after Connect (%.1f MB/s; cpu %lld ms), max gap %lld ms, log %.1f MB, "
            "peak RSS %.1f MB\n\n",
            l.ok ? "ended" : "DID NOT END", l.idleAfterMs,
            l.idleAfterMs > 0 ? longLineMb * 1000.0 / l.idleAfterMs : 0.0, l.cpuMs, l.maxGapMs,
            l.characters / 1048576.0, statusKiB("VmHWM") / 1024.0);
        std::fflush(stdout);
    }

    const int steadyLines = qEnvironmentVariableIsSet("BENCH_STEADY_LINES")
                                ? qEnvironmentVariableIntValue("BENCH_STEADY_LINES")
                                : 500;
    const int steadyRate = qEnvironmentVariableIsSet("BENCH_STEADY_RATE")
                               ? qMax(1, qEnvironmentVariableIntValue("BENCH_STEADY_RATE"))
                               : 50;
    for (bool connected : {true, false}) {
        if (steadyLines <= 0)
            break;
        const SteadyResult st = runSteadyStream(steadyLines, steadyRate, connected, home.path());
        std::printf("%d lines at %d a second, %s (target: < 0.1 ms cpu per line)\n", steadyLines, steadyRate,
                    connected ? "connected" : "still connecting");
        std::printf("  %s; cpu %.3f ms per line (all of the GUI thread; %.1f lines/s came), max gap %lld ms, "
                    "RSS %+lld KB\n\n",
                    st.ok ? "ended" : "DID NOT END", st.cpuMsPerLine, st.linesPerSecond, st.maxGapMs,
                    st.rssGrowthKiB);
        std::fflush(stdout);
    }

    const int repeats =
        qEnvironmentVariableIsSet("BENCH_REPEAT") ? qEnvironmentVariableIntValue("BENCH_REPEAT") : 3;
    std::printf("%9s %11s %10s %12s %13s %11s %9s %8s\n", "lines", "connect ms", "cpu ms", "max gap ms",
                "max gap cpu", "log blocks", "log MB", "RSS MB");
    QList<Result> medians;
    for (long long lines : counts) {
        QList<Result> runs;
        for (int i = 0; i < repeats; ++i) {
            const Result r = runOnce(lines);
            runs << r;
            std::printf("%9lld %11lld %10lld %12lld %13.1f %11d %9.1f %8.1f\n", lines, r.connectMs, r.cpuMs,
                        r.maxGapMs, r.maxGapCpuMs, r.blocks, r.characters / 1048576.0,
                        residentKiB() / 1024.0);
            std::fflush(stdout);
        }
        const auto median = [&runs](auto field) {
            QList<double> values;
            for (const Result& r : runs)
                values << double(r.*field);
            std::sort(values.begin(), values.end());
            return values.at(values.size() / 2);
        };
        Result m;
        m.connectMs = qint64(median(&Result::connectMs));
        m.cpuMs = qint64(median(&Result::cpuMs));
        m.maxGapMs = qint64(median(&Result::maxGapMs));
        m.maxGapCpuMs = median(&Result::maxGapCpuMs);
        medians << m;
    }

    std::printf("\nmedians of %d runs (targets: time ratio at most 2.2 per doubling, gaps at most 100 ms)\n",
                repeats);
    for (int i = 0; i < counts.size(); ++i) {
        std::printf("%9lld lines: connect %6lld ms, cpu %6lld ms, max gap %4lld ms (cpu %5.1f ms)",
                    counts.at(i), medians.at(i).connectMs, medians.at(i).cpuMs, medians.at(i).maxGapMs,
                    medians.at(i).maxGapCpuMs);
        if (i > 0 && medians.at(i - 1).connectMs > 0 && medians.at(i - 1).cpuMs > 0) {
            const double size = double(counts.at(i)) / counts.at(i - 1);
            std::printf("; x%.2f lines -> x%.2f time, x%.2f cpu", size,
                        double(medians.at(i).connectMs) / medians.at(i - 1).connectMs,
                        double(medians.at(i).cpuMs) / medians.at(i - 1).cpuMs);
        }
        std::printf("\n");
    }
    return 0;
}
