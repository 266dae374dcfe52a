// Connect to "Initialization Sequence Completed" on loopback: the engine as an ordinary user through
// the tunnel service (test build, private system bus) against the engine as root running OpenVPN
// directly; the server pushes DNS, which the service applies (to a stand-in resolved). Prints the
// median, fastest and slowest of BENCH_REPEAT runs (default 20) for each.
// Needs root, /dev/net/tun, openvpn, openssl, dbus-daemon, setpriv and busctl.
#include "FakeResolved.h"
#include "LoopbackVpn.h"
#include "PrivateSystemBus.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <algorithm>
#include <csignal>
#include <cstdio>

#include <pwd.h>
#include <unistd.h>

namespace {

const QString kPassword = "s3cret";

// Milliseconds from starting the engine to the line; -1 when it did not come.
double connectOnce(const QString& dir, const QString& program, const QStringList& args,
                   const QProcessEnvironment& env)
{
    QProcess engine;
    engine.setProcessEnvironment(env);
    engine.setWorkingDirectory(dir);
    engine.setProcessChannelMode(QProcess::MergedChannels);
    QElapsedTimer timer;
    timer.start();
    engine.start(program, args);
    QByteArray output;
    double ms = -1;
    while (timer.elapsed() < 30000 && engine.state() != QProcess::NotRunning) {
        engine.waitForReadyRead(20);
        output += engine.readAll();
        if (output.contains("Initialization Sequence Completed")) {
            ms = static_cast<double>(timer.nsecsElapsed()) / 1e6;
            break;
        }
    }
    if (ms < 0)
        std::fprintf(stderr, "no connection:\n%s\n", output.constData());
    ::kill(static_cast<pid_t>(engine.processId()), SIGTERM);
    engine.waitForFinished(30000);
    return ms;
}

void report(const char* name, QList<double> times)
{
    std::sort(times.begin(), times.end());
    if (times.isEmpty()) {
        std::printf("%-22s no successful run\n", name);
        return;
    }
    std::printf("%-22s median %7.1f ms   fastest %7.1f ms   slowest %7.1f ms   (%lld runs)\n", name,
                times[times.size() / 2], times.first(), times.last(), static_cast<long long>(times.size()));
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    const QString missing = LoopbackVpn::missingPrerequisite();
    if (!missing.isEmpty()) {
        std::printf("bench_service: skipped: %s\n", qPrintable(missing));
        return 0;
    }
    const int runs =
        qEnvironmentVariableIsSet("BENCH_REPEAT") ? qEnvironmentVariableIntValue("BENCH_REPEAT") : 20;

    QTemporaryDir tmp;
    QFile::setPermissions(tmp.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner |
                                          QFile::ExeGroup | QFile::ExeOther);
    QDir().mkpath(tmp.filePath("pki"));
    LoopbackVpn vpn(tmp.filePath("pki"));
    PrivateSystemBus bus;
    QString error;
    // Pushed DNS, so that both hooks' reports are applied, through a stand-in resolved on the
    // private bus (without one the service would fall back to the machine's resolvconf).
    if (!vpn.makePki(kPassword, &error) ||
        !vpn.start(&error,
                   {"--push", "dhcp-option DNS 10.8.0.53", "--push", "dhcp-option DOMAIN corp.example"}) ||
        !bus.start(tmp.path(), 0, &error)) {
        std::fprintf(stderr, "bench_service: %s\n", qPrintable(error));
        return 1;
    }
    FakeResolvedHost resolved(bus.address());
    if (!resolved.isRunning()) {
        std::fprintf(stderr, "bench_service: the stand-in resolved is not on the bus\n");
        return 1;
    }

    const QString dir = tmp.filePath("profile");
    QDir().mkpath(dir);
    QFile::copy(tmp.filePath("pki/client.p12"), dir + "/client.p12");
    QFile conf(dir + "/conf");
    conf.open(QIODevice::WriteOnly);
    conf.write("remote 127.0.0.1\nrport " + QByteArray::number(vpn.port()) +
               "\npkcs12 client.p12\nclient\nnobind\nproto udp\nremote-cert-tls server\nverb 3\n");
    conf.close();
    const passwd* nobody = ::getpwnam("nobody");
    for (const QString& path : {dir, dir + "/conf", dir + "/client.p12"}) {
        if (!nobody || ::chown(QFile::encodeName(path).constData(), nobody->pw_uid, nobody->pw_gid) != 0) {
            std::fprintf(stderr, "bench_service: cannot give %s to nobody\n", qPrintable(path));
            return 1;
        }
    }

    const QString engine = QStringLiteral(QLUMAR_BIN_DIR "/qlumar_openvpn");
    const QStringList engineArgs{"--config", "conf",         "--dev",     "tun",    "--float",
                                 "--pull",   "--tls-client", "--keypass", kPassword};
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const QString& name : env.keys()) {
        if (name.startsWith("QLUMAR_"))
            env.remove(name);
    }
    env.insert("DBUS_SYSTEM_BUS_ADDRESS", bus.address());
    QProcessEnvironment direct = env;
    direct.insert("QLUMAR_OPENVPN", LoopbackVpn::openvpnProgram());

    QList<double> directTimes;
    QList<double> serviceTimes;
    // Alternating, so that a slow spell of the machine hits both alike.
    for (int i = 0; i < runs; ++i) {
        const double root = connectOnce(dir, engine, engineArgs, direct);
        const double user = connectOnce(
            dir, "setpriv",
            QStringList{"--reuid=nobody", "--regid=nogroup", "--clear-groups", "--", engine} + engineArgs,
            env);
        if (root >= 0)
            directTimes << root;
        if (user >= 0)
            serviceTimes << user;
    }
    report("direct OpenVPN (root)", directTimes);
    report("through the service", serviceTimes);
    if (!directTimes.isEmpty() && !serviceTimes.isEmpty()) {
        std::sort(directTimes.begin(), directTimes.end());
        std::sort(serviceTimes.begin(), serviceTimes.end());
        std::printf("the service adds %.1f ms (difference of the medians)\n",
                    serviceTimes[serviceTimes.size() / 2] - directTimes[directTimes.size() / 2]);
    }
    return 0;
}
