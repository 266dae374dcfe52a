// The manager on a desktop: one per user, started at login, and at home with or without a tray.
#include "GuiTestBase.h"
#include "PrivateBus.h"
#include "TestCertificates.h"
#include "TestSupport.h"

#include "app/Autostart.h"
#include "app/DesktopNotifier.h"
#include "app/MainWindow.h"
#include "app/Prompt.h"
#include "app/SingleInstance.h"
#include "app/Startup.h"
#include "app/TrayHost.h"
#include "profiles/VpnItem.h"

#include <QAction>
#include <QApplication>
#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusPendingCallWatcher>
#include <QDBusVariant>
#include <QDeadlineTimer>
#include <QDockWidget>
#include <QFile>
#include <QHash>
#include <QLabel>
#include <QMenu>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

#include <csignal>
#include <cstring>
#include <functional>

// A StatusNotifierWatcher with a host registered, as a panel offers it.
class TestWatcher : public QObject
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.kde.StatusNotifierWatcher")
    Q_PROPERTY(bool IsStatusNotifierHostRegistered READ isHostRegistered)

public:
    bool isHostRegistered() const { return true; }
    QStringList items; // services of the items that registered

public Q_SLOTS:
    // NOLINTNEXTLINE(readability-identifier-naming): the D-Bus method's own name
    void RegisterStatusNotifierItem(const QString& service) { items.append(service); }
};

// A notification server that hands out a new id for every message and keeps what it was sent.
class FakeNotifications : public QObject
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")

public:
    struct Sent
    {
        uint replaces = 0;
        QString icon;
        QString summary;
        uint id = 0;
    };
    QList<Sent> sent;

public Q_SLOTS:
    // NOLINTNEXTLINE(readability-identifier-naming): the D-Bus method's own name
    uint Notify(const QString& app, uint replaces, const QString& icon, const QString& summary,
                const QString& body, const QStringList& actions, const QVariantMap& hints, int timeout)
    {
        Q_UNUSED(app);
        Q_UNUSED(body);
        Q_UNUSED(actions);
        Q_UNUSED(hints);
        Q_UNUSED(timeout);
        sent.append({replaces, icon, summary, uint(sent.size() + 100)});
        return sent.last().id;
    }
};

namespace {

struct SecondStart
{
    int exitCode = -1;
    QByteArray errors;
};

// The real program started a second time against runtimeDir; the caller's event loop keeps
// turning meanwhile, so a primary in this process can answer.
SecondStart startSecond(const QString& runtimeDir, const QStringList& arguments,
                        const QString& workingDir = QString())
{
    QProcess program;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtimeDir);
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    env.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), QStringLiteral("unix:path=/nonexistent"));
    program.setProcessEnvironment(env);
    if (!workingDir.isEmpty())
        program.setWorkingDirectory(workingDir);
    program.start(builtProgram(QStringLiteral("qlumar_vpn")), arguments);
    SecondStart result;
    if (!program.waitForStarted())
        return result;
    const QDeadlineTimer deadline(30000);
    while (program.state() != QProcess::NotRunning && !deadline.hasExpired())
        QTest::qWait(20);
    if (program.state() != QProcess::NotRunning) {
        program.kill();
        program.waitForFinished();
        return result;
    }
    result.exitCode = program.exitStatus() == QProcess::NormalExit ? program.exitCode() : -2;
    result.errors = program.readAllStandardError();
    return result;
}

// An X server of the test's own; the display's name, empty when there is none. Xvfb picks a free
// display itself and names it once it accepts connections; -noreset keeps it from refusing them
// for a moment whenever its last client leaves.
QString startXServer(QProcess& server)
{
    const QString xvfb = QStandardPaths::findExecutable(QStringLiteral("Xvfb"));
    if (xvfb.isEmpty())
        return QString();
    server.start(xvfb, {"-displayfd", "1", "-noreset", "-screen", "0", "800x600x24", "-nolisten", "tcp"});
    if (!server.waitForStarted())
        return QString();
    const QDeadlineTimer deadline(10000);
    while (!server.canReadLine() && server.state() == QProcess::Running && !deadline.hasExpired())
        server.waitForReadyRead(100);
    const QByteArray number = server.readLine().trimmed();
    return number.isEmpty() ? QString() : QLatin1Char(':') + QString::fromLatin1(number);
}

// The answer to a call, with this process's loop turning meanwhile (the watcher lives here).
QDBusMessage callAndWait(const QDBusConnection& bus, const QDBusMessage& call)
{
    QDBusPendingCallWatcher pending(bus.asyncCall(call, 10000));
    const QDeadlineTimer deadline(15000);
    while (!pending.isFinished() && !deadline.hasExpired())
        QTest::qWait(10);
    return pending.isFinished() ? pending.reply() : QDBusMessage();
}

// A property of the tray item, asked as a panel asks it.
QVariant itemProperty(const QDBusConnection& bus, const QString& service, const QString& name)
{
    QDBusMessage get = QDBusMessage::createMethodCall(service, QStringLiteral("/StatusNotifierItem"),
                                                      QStringLiteral("org.freedesktop.DBus.Properties"),
                                                      QStringLiteral("Get"));
    get << QStringLiteral("org.kde.StatusNotifierItem") << name;
    const QDBusMessage reply = callAndWait(bus, get);
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty())
        return QVariant();
    return reply.arguments().first().value<QDBusVariant>().variant();
}

// The title of a StatusNotifierItem tooltip, (sa(iiay)ss).
QString toolTipTitle(const QVariant& toolTip)
{
    const auto argument = toolTip.value<QDBusArgument>();
    QString icon;
    QString title;
    QString text;
    argument.beginStructure();
    argument >> icon;
    argument.beginArray();
    while (!argument.atEnd()) {
        int width = 0;
        int height = 0;
        QByteArray pixels;
        argument.beginStructure();
        argument >> width >> height >> pixels;
        argument.endStructure();
    }
    argument.endArray();
    argument >> title >> text;
    argument.endStructure();
    return title;
}

// A dbusmenu layout, (ia{sv}av): every entry's id under its labels' path ("Connect/Home"), the
// mnemonic marks taken out; separators have no label and are left out.
void readMenu(const QDBusArgument& layout, const QString& path, QList<QPair<QString, int>>* entries)
{
    int id = 0;
    QVariantMap properties;
    layout.beginStructure();
    layout >> id >> properties;
    const QString label = properties.value(QStringLiteral("label")).toString().remove(QLatin1Char('_'));
    const QString here = path.isEmpty() ? label : path + QLatin1Char('/') + label;
    if (!label.isEmpty())
        entries->append({here, id});
    layout.beginArray();
    while (!layout.atEnd()) {
        QDBusVariant child;
        layout >> child;
        readMenu(child.variant().value<QDBusArgument>(), label.isEmpty() ? path : here, entries);
    }
    layout.endArray();
    layout.endStructure();
}

constexpr const char* managerChildSwitch = "--run-manager-for-the-tray-test";

// The manager as the program runs it, in a child of the test on a real X server, where the
// toolkit's own StatusNotifierItem talks to the test's panel. Every password prompt is answered
// with "secret".
int runManagerChild()
{
    // Named as the program is: the X11 window class comes from this name.
    char name[] = "qlumar_vpn";
    int argc = 1;
    char* argv[] = {name, nullptr};
    QApplication app(argc, argv);
    Prompt::setTestMode(true);
    for (int i = 0; i < 4; ++i)
        Prompt::answerText(QStringLiteral("secret"));
    return Startup::start(app);
}

} // namespace

class TestDesktop : public GuiTestBase
{
    Q_OBJECT

    QTemporaryDir m_runtime;
    QTemporaryDir m_config;

    void addProfile(const QString& dir, const QString& name)
    {
        QVERIFY(ScratchHome::writeFile(home()->rootPath() + "/" + dir + "/conf",
                                       "#\n# qLumarVpnName " + name.toUtf8() +
                                           "\n#\nremote vpn.example.net\npkcs12 x.p12\n"));
    }

    // Start-up as the program runs it; `during` acts once the loop turns and must end the run.
    int runWith(const Startup::Options& options, const std::function<void(MainWindow*)>& during)
    {
        QTimer::singleShot(0, qApp, [&] {
            MainWindow* w = runningMainWindow();
            QVERIFY(w);
            during(w);
            if (QTest::currentTestFailed())
                QCoreApplication::exit(98);
        });
        QTimer guard;
        guard.setSingleShot(true);
        connect(&guard, &QTimer::timeout, qApp, [] { QCoreApplication::exit(99); });
        guard.start(60000);
        return Startup::run(*qApp, options);
    }

private Q_SLOTS:
    void init()
    {
        GuiTestBase::init();
        removeInstalledTranslators();
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(m_config.path()));
        QFile::remove(Autostart::filePath());
    }
    void cleanup() { GuiTestBase::cleanup(); }

    // A second start delivers what it was asked and ends; the first one decides what happens.
    void secondStartHandsOverAndEnds()
    {
        QTemporaryDir runtime;
        SingleInstance primary(runtime.path());
        QCOMPARE(primary.claim(), SingleInstance::Claim::Primary);
        QList<CommandLine::Request> received;
        primary.setHandler([&](const CommandLine::Request& request) {
            received.append(request);
            return request.connectName == QLatin1String("Nowhere") ? QStringLiteral("no such connection")
                                                                   : QString();
        });

        SecondStart second = startSecond(runtime.path(), {});
        QCOMPARE(second.exitCode, 0);
        QCOMPARE(received.size(), 1);
        QCOMPARE(received.last().action, CommandLine::Request::Run);
        QVERIFY(!received.last().minimized);

        second = startSecond(runtime.path(), {"--connect", "Office VPN"});
        QCOMPARE(second.exitCode, 0);
        QCOMPARE(received.last().action, CommandLine::Request::Connect);
        QCOMPARE(received.last().connectName, QStringLiteral("Office VPN"));

        QTemporaryDir downloads;
        second = startSecond(runtime.path(), {"--import", "my.ovpn"}, downloads.path());
        QCOMPARE(second.exitCode, 0);
        QCOMPARE(received.last().action, CommandLine::Request::Import);
        QCOMPARE(received.last().importPath, downloads.path() + "/my.ovpn");

        second = startSecond(runtime.path(), {"--minimized"});
        QCOMPARE(second.exitCode, 0);
        QCOMPARE(received.last().action, CommandLine::Request::Run);
        QVERIFY(received.last().minimized);

        // A refusal reaches the person who typed the command, and the exit code says so.
        second = startSecond(runtime.path(), {"--connect", "Nowhere"});
        QCOMPARE(second.exitCode, 1);
        QVERIFY2(second.errors.contains("no such connection"), second.errors.constData());

        // Usage errors never reach the running manager.
        const int before = received.size();
        second = startSecond(runtime.path(), {"--connect"});
        QCOMPARE(second.exitCode, 2);
        second = startSecond(runtime.path(), {"--help"});
        QCOMPARE(second.exitCode, 0);
        QCOMPARE(received.size(), before);

        // Garbage on the socket is refused without reaching the handler.
        QCOMPARE(SingleInstance::decode("{\"action\":\"import\",\"path\":\"rel.ovpn\"}").action,
                 CommandLine::Request::Invalid);
        QCOMPARE(SingleInstance::decode("\xff{").action, CommandLine::Request::Invalid);
    }

    // The whole way: a second start with --connect makes the running manager ask for the
    // password and start the engine for that profile.
    void connectReachesTheRunningManager()
    {
        addProfile("0000", "Office");
        addProfile("0001", "Home");
        SleepingEngine engine;
        QVERIFY(engine.isValid());

        QTemporaryDir runtime;
        SingleInstance instance(runtime.path());
        QCOMPARE(instance.claim(), SingleInstance::Claim::Primary);
        Startup::Options options;
        options.instance = &instance;
        options.request.minimized = true;
        QCOMPARE(runWith(options,
                         [&](MainWindow* w) {
                             QVERIFY(!w->isVisible()); // --minimized with a tray
                             Prompt::answerText(QStringLiteral("secret"));
                             QCOMPARE(startSecond(runtime.path(), {"--connect", "Home"}).exitCode, 0);
                             QTRY_VERIFY(w->isVpnRunning());
                             QCOMPARE(w->activeProfile()->dirName(), QStringLiteral("0001"));
                             QVERIFY(w->isVisible()); // the password was asked over the window
                             QCOMPARE(w->tray()->toolTip(),
                                      QStringLiteral("qLumar VPN - Connecting to Home…"));
                             QCOMPARE(Prompt::history().size(), 1);
                             QCOMPARE(Prompt::history().first().kind, Prompt::Kind::Text);

                             // While it runs, another profile is refused; the same one is fine.
                             const SecondStart other = startSecond(runtime.path(), {"--connect", "Office"});
                             QCOMPARE(other.exitCode, 1);
                             QVERIFY2(other.errors.contains("another connection is running"),
                                      other.errors.constData());
                             QCOMPARE(startSecond(runtime.path(), {"--connect", "Home"}).exitCode, 0);
                             QCOMPARE(Prompt::history().size(), 1);
                             QCOMPARE(startSecond(runtime.path(), {"--connect", "Nobody"}).exitCode, 1);

                             QSignalSpy imports(w, &MainWindow::importRequested);
                             QCOMPARE(startSecond(runtime.path(), {"--import", "/tmp/new.ovpn"}).exitCode, 0);
                             QTRY_COMPARE(imports.size(), 1);
                             QCOMPARE(imports.first().first().toString(), QStringLiteral("/tmp/new.ovpn"));
                             w->exit();
                         }),
                 0);
    }

    // A manager killed with SIGKILL leaves its lock and socket behind; the next start takes over.
    void staleLockAndSocketDoNotBlockTheNextStart()
    {
        QTemporaryDir runtime;
        QProcess first;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtime.path());
        env.insert(QStringLiteral("HOME"), home()->path());
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        env.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), QStringLiteral("unix:path=/nonexistent"));
        first.setProcessEnvironment(env);
        first.start(builtProgram(QStringLiteral("qlumar_vpn")), QStringList());
        QVERIFY(first.waitForStarted());
        SingleInstance probe(runtime.path());
        QTRY_VERIFY_WITH_TIMEOUT(QFileInfo::exists(probe.socketPath()), 20000);
        // Two real starts: the second hands over to the first.
        QCOMPARE(startSecond(runtime.path(), {}).exitCode, 0);
        QCOMPARE(first.state(), QProcess::Running);

        ::kill(pid_t(first.processId()), SIGKILL);
        QVERIFY(first.waitForFinished());
        QVERIFY(QFileInfo::exists(probe.lockPath()));
        QVERIFY(QFileInfo::exists(probe.socketPath()));

        SingleInstance next(runtime.path());
        QCOMPARE(next.claim(), SingleInstance::Claim::Primary);
        int shown = 0;
        next.setHandler([&](const CommandLine::Request&) {
            ++shown;
            return QString();
        });
        QCOMPARE(startSecond(runtime.path(), {}).exitCode, 0);
        QCOMPARE(shown, 1);
    }

    void startAtLoginWritesAndRemovesTheEntry()
    {
        const QString entry = m_config.path() + "/autostart/qlumar_vpn.desktop";
        QCOMPARE(Autostart::filePath(), entry);
        MainWindow* w = mainWindow();
        auto* startAtLogin = w->findChild<QAction*>(QStringLiteral("startAtLoginAction"));
        QVERIFY(startAtLogin);
        QVERIFY(w->tray()->contextMenu()->actions().contains(startAtLogin));
        QVERIFY(startAtLogin->isCheckable());
        QVERIFY(!startAtLogin->isChecked());

        triggerAction(startAtLogin);
        QVERIFY(startAtLogin->isChecked());
        const QByteArray written = ScratchHome::readFile(entry);
        QVERIFY(written.startsWith("[Desktop Entry]\n"));
        QVERIFY(written.contains("\nExec=qlumar_vpn --minimized\n"));
        QVERIFY(written.contains("\nType=Application\n"));
        QVERIFY(QDir(m_config.path() + "/autostart").entryList(QDir::Files | QDir::Hidden).size() == 1);

        // A new start reads the state from the file.
        w = mainWindow();
        startAtLogin = w->findChild<QAction*>(QStringLiteral("startAtLoginAction"));
        QVERIFY(startAtLogin->isChecked());
        triggerAction(startAtLogin);
        QVERIFY(!startAtLogin->isChecked());
        QVERIFY(!QFileInfo::exists(entry));

        // An entry the session settings switched off counts as off.
        QVERIFY(ScratchHome::writeFile(entry, Autostart::entryContents() + "Hidden=true\n"));
        QVERIFY(!mainWindow()->findChild<QAction*>(QStringLiteral("startAtLoginAction"))->isChecked());
        QVERIFY(QFile::remove(entry));

        // A refused write says so and leaves the mark off.
        QVERIFY(QDir(m_config.path() + "/autostart").removeRecursively());
        QVERIFY(ScratchHome::writeFile(m_config.path() + "/autostart", "a file, not a directory"));
        w = mainWindow();
        startAtLogin = w->findChild<QAction*>(QStringLiteral("startAtLoginAction"));
        triggerAction(startAtLogin);
        QVERIFY(!startAtLogin->isChecked());
        QCOMPARE(Prompt::messages().size(), 1);
        QCOMPARE(Prompt::messages().first().icon, QMessageBox::Warning);
        QVERIFY(QFile::remove(m_config.path() + "/autostart"));
    }

    // No tray: a plain window with the notice, and closing it ends the program, asking first
    // while a connection runs.
    void withoutTrayTheWindowIsTheProgram()
    {
        addProfile("0000", "Office");
        SleepingEngine engine;
        QVERIFY(engine.isValid());

        Startup::Options options;
        options.trayAvailable = false;
        options.request.minimized = true; // nothing to wait for without a host to watch
        bool closedWhileRunning = false;
        QCOMPARE(runWith(options,
                         [&](MainWindow* w) {
                             QVERIFY(w->isVisible());
                             QVERIFY(!w->tray()); // not even made: the toolkit would keep a "no"
                             QVERIFY(w->noTrayNotice() && w->noTrayNotice()->isVisible());
                             QVERIFY(
                                 w->noTrayNotice()->findChild<QLabel*>()->text().contains("AppIndicator"));
                             QVERIFY(Prompt::messages().isEmpty()); // no modal box at start

                             Prompt::answerText(QStringLiteral("secret"));
                             QCOMPARE(w->connectByName(QStringLiteral("Office")), QString());
                             QTRY_VERIFY(w->isVpnRunning());
                             Prompt::answerButton(QMessageBox::No);
                             w->close();
                             QVERIFY(w->isVisible());
                             QVERIFY(w->isVpnRunning());
                             QCOMPARE(Prompt::messages().size(), 1);
                             QCOMPARE(Prompt::messages().first().icon, QMessageBox::Question);
                             closedWhileRunning = true;
                             Prompt::answerButton(QMessageBox::Yes);
                             w->close(); // ends the run
                         }),
                 0);
        QVERIFY(closedWhileRunning);
        QCOMPARE(Prompt::messages().size(), 2);
    }

    // A tray host that registers later takes the icon and closing hides again; when it goes, the
    // hidden window comes back. --minimized waits for one before showing the window.
    void trayHostComingAndGoing_data()
    {
        QTest::addColumn<bool>("minimized");
        QTest::newRow("plain start") << false;
        QTest::newRow("--minimized") << true;
    }
    void trayHostComingAndGoing()
    {
        QFETCH(bool, minimized);
        PrivateBus bus;
        if (!bus.start())
            QSKIP(qPrintable(bus.error()));
        QDBusConnection client = QDBusConnection::connectToBus(bus.address(), QStringLiteral("tray-client"));
        QDBusConnection panel = QDBusConnection::connectToBus(bus.address(), QStringLiteral("tray-panel"));
        const auto disconnect = qScopeGuard([] {
            QDBusConnection::disconnectFromBus(QStringLiteral("tray-client"));
            QDBusConnection::disconnectFromBus(QStringLiteral("tray-panel"));
        });
        QVERIFY(client.isConnected() && panel.isConnected());
        TrayHost host(client);
        QVERIFY(!host.isAvailable());
        TestWatcher watcher;
        QVERIFY(panel.registerObject(QStringLiteral("/StatusNotifierWatcher"), &watcher,
                                     QDBusConnection::ExportAllProperties));

        Startup::Options options;
        options.trayAvailable = false;
        options.trayHost = &host;
        options.request.minimized = minimized;
        options.trayWaitMilliseconds = 600000; // only the host's arrival may end the wait here
        QCOMPARE(runWith(options,
                         [&](MainWindow* w) {
                             QCOMPARE(w->isVisible(), !minimized);
                             QVERIFY(!w->tray());
                             QVERIFY(panel.registerService(QLatin1String(TrayHost::watcherService)));
                             QTRY_VERIFY(host.hasStatusNotifierHost());
                             QVERIFY(w->hasTrayHost());
                             QVERIFY(w->tray()->isVisible());
                             QVERIFY(!w->noTrayNotice()->isVisible());
                             QCOMPARE(w->isVisible(), !minimized);
                             w->close();
                             QVERIFY(!w->isVisible()); // hidden in the tray

                             QVERIFY(panel.unregisterService(QLatin1String(TrayHost::watcherService)));
                             QTRY_VERIFY(!host.isAvailable());
                             QVERIFY(w->isVisible()); // nothing else could bring it back
                             QVERIFY(!w->tray()->isVisible());
                             QVERIFY(w->noTrayNotice()->isVisible());
                             w->close(); // without a tray, the end
                         }),
                 0);
    }

    // On a StatusNotifierItem tray the messages go to the notification server, each replacing
    // the one before, even when the next is sent before the server answered the first.
    void messagesGoToTheNotificationServer()
    {
        PrivateBus bus;
        if (!bus.start())
            QSKIP(qPrintable(bus.error()));
        QDBusConnection client =
            QDBusConnection::connectToBus(bus.address(), QStringLiteral("notify-client"));
        QDBusConnection desktop =
            QDBusConnection::connectToBus(bus.address(), QStringLiteral("notify-server"));
        const auto disconnect = qScopeGuard([] {
            QDBusConnection::disconnectFromBus(QStringLiteral("notify-client"));
            QDBusConnection::disconnectFromBus(QStringLiteral("notify-server"));
        });
        DesktopNotifier notifier(client);
        QVERIFY(!notifier.isAvailable());
        FakeNotifications server;
        QVERIFY(desktop.registerObject(QStringLiteral("/org/freedesktop/Notifications"), &server,
                                       QDBusConnection::ExportAllSlots));
        QVERIFY(desktop.registerService(QLatin1String(DesktopNotifier::service)));
        QVERIFY(notifier.isAvailable());

        MainWindow* w = mainWindow();
        w->setDesktopNotifier(&notifier);
        w->vpnFinishSlot(0, QProcess::NormalExit);
        QTRY_COMPARE(server.sent.size(), 1);
        QCOMPARE(server.sent.at(0).summary, QStringLiteral("Disconnected"));
        QCOMPARE(server.sent.at(0).icon, QStringLiteral("qlumar-velkoro"));
        QCOMPARE(server.sent.at(0).replaces, 0u);

        // Sent before the answer to the one before: "Connecting" may be dropped while an
        // earlier message waits for its id, but the newest always comes last and replaces.
        notifier.notify("Connecting", "", 1000);
        notifier.notify("Connected", "", 1000);
        QTRY_COMPARE(server.sent.last().summary, QStringLiteral("Connected"));
        QTest::qWait(100);
        QCOMPARE(server.sent.last().summary, QStringLiteral("Connected"));
        QVERIFY(server.sent.size() <= 3);
        for (int i = 1; i < server.sent.size(); ++i)
            QCOMPARE(server.sent.at(i).replaces, server.sent.at(i - 1).id);
    }

    // The manager on a real X server with no tray: when a StatusNotifierItem host comes up, the
    // toolkit's D-Bus tray item registers with it (the toolkit was not asked before). Then what the
    // panel sees of the item through a connection made and ended from its menu: the state's icon
    // name from the theme, the tooltip, and Active throughout (no notification server here, so no
    // message may fall back to the toolkit's NeedsAttention balloon).
    void statusNotifierItemFollowsTheConnection()
    {
        PrivateBus bus;
        if (!bus.start())
            QSKIP(qPrintable(bus.error()));
        QProcess server;
        const auto stopServer = qScopeGuard([&server] {
            server.terminate();
            server.waitForFinished();
        });
        const QString display = startXServer(server);
        if (display.isEmpty())
            QSKIP("no X server (Debian: apt-get install xvfb)");
        QDBusConnection panel = QDBusConnection::connectToBus(bus.address(), QStringLiteral("sni-panel"));
        const auto disconnect =
            qScopeGuard([] { QDBusConnection::disconnectFromBus(QStringLiteral("sni-panel")); });
        TestWatcher watcher;
        QVERIFY(panel.registerObject(QStringLiteral("/StatusNotifierWatcher"), &watcher,
                                     QDBusConnection::ExportAllProperties | QDBusConnection::ExportAllSlots));

        addProfile("0000", "Home");
        const QDateTime now = QDateTime::currentDateTimeUtc();
        QVERIFY(ScratchHome::writeFile(
            home()->rootPath() + "/0000/x.p12",
            pkcs12(makeCertificate("tray", "tray", now.addDays(-1), now.addDays(365)), 0, "secret")));
        // The engine waits while the hold file exists, so "connecting" lasts until the test is done
        // looking at it; then the simulator brings the tunnel up.
        QTemporaryDir engineDir;
        const QString hold = engineDir.filePath(QStringLiteral("hold"));
        const QString engine = engineDir.filePath(QStringLiteral("engine.sh"));
        QVERIFY(ScratchHome::writeFile(hold, ""));
        QVERIFY(ScratchHome::writeFile(
            engine, "#!/bin/sh\nwhile [ -e '" + QFile::encodeName(hold) + "' ]; do sleep 0.05; done\nexec '" +
                        QFile::encodeName(builtProgram("qlumar_openvpn")) + "' \"$@\"\n"));
        QVERIFY(QFile::setPermissions(engine, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));

        QTemporaryDir runtime;
        QProcess manager;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtime.path());
        env.insert(QStringLiteral("HOME"), home()->path());
        env.insert(QStringLiteral("DISPLAY"), display);
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
        env.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), bus.address());
        env.insert(QStringLiteral("QLUMAR_ENGINE"), QStringLiteral("simulator"));
        env.insert(QStringLiteral("QLUMAR_ENGINE_PATH"), engine);
        env.remove(QStringLiteral("XDG_CURRENT_DESKTOP"));
        manager.setProcessEnvironment(env);
        manager.setProcessChannelMode(QProcess::ForwardedChannels);
        manager.start(QCoreApplication::applicationFilePath(), {QLatin1String(managerChildSwitch)});
        QVERIFY(manager.waitForStarted());
        const auto stopManager = qScopeGuard([&manager] {
            if (manager.state() == QProcess::NotRunning)
                return;
            manager.kill();
            manager.waitForFinished();
        });
        SingleInstance probe(runtime.path());
        QTRY_VERIFY_WITH_TIMEOUT(QFileInfo::exists(probe.socketPath()), 20000);
        QTest::qWait(200);
        QVERIFY(watcher.items.isEmpty());
        // Its window keeps the class the desktop entry names.
        QProcess xprop;
        xprop.start(QStringLiteral("xprop"), {"-display", display, "-name", "qLumar Velkoro", "WM_CLASS"});
        if (xprop.waitForStarted() && xprop.waitForFinished(10000) && xprop.exitCode() == 0)
            QVERIFY2(xprop.readAllStandardOutput().contains("\"qlumar_vpn\""), "WM_CLASS changed");

        QVERIFY(panel.registerService(QLatin1String(TrayHost::watcherService)));
        QTRY_VERIFY_WITH_TIMEOUT(!watcher.items.isEmpty(), 20000);
        const QString item = watcher.items.first();
        const auto property = [&](const char* name) {
            return itemProperty(panel, item, QLatin1String(name));
        };

        QCOMPARE(property("Title").toString(), QStringLiteral("qLumar Velkoro"));
        QCOMPARE(property("IconName").toString(), QStringLiteral("qlumar-velkoro-disconnected"));
        QCOMPARE(toolTipTitle(property("ToolTip")), QStringLiteral("qLumar VPN - disconnected"));
        QCOMPARE(property("Status").toString(), QStringLiteral("Active"));

        // The menu, as the panel shows it.
        const QString menuPath = property("Menu").value<QDBusObjectPath>().path();
        QVERIFY(!menuPath.isEmpty());
        const auto readLayout = [&] {
            QDBusMessage call = QDBusMessage::createMethodCall(
                item, menuPath, QStringLiteral("com.canonical.dbusmenu"), QStringLiteral("GetLayout"));
            call << 0 << -1 << QStringList();
            const QDBusMessage reply = callAndWait(panel, call);
            QList<QPair<QString, int>> entries;
            if (reply.type() == QDBusMessage::ReplyMessage && reply.arguments().size() == 2)
                readMenu(reply.arguments().at(1).value<QDBusArgument>(), QString(), &entries);
            return entries;
        };
        // A panel announces the menu before it reads it, as it opens.
        QDBusMessage opening = QDBusMessage::createMethodCall(
            item, menuPath, QStringLiteral("com.canonical.dbusmenu"), QStringLiteral("AboutToShow"));
        opening << 0;
        QCOMPARE(callAndWait(panel, opening).type(), QDBusMessage::ReplyMessage);
        const QList<QPair<QString, int>> entries = readLayout();
        QStringList labels;
        QHash<QString, int> ids;
        for (const auto& [label, id] : entries) {
            labels.append(label);
            ids.insert(label, id);
        }
        QCOMPARE(labels, QStringList({"Connect", "Connect/Home", "Disconnect", "Import connection…",
                                      "Reconnect automatically", "Language", "Language/English",
                                      "Language/Polski", "Start at login", "About", "Exit"}));
        const auto click = [&](const QString& label) {
            QDBusMessage event = QDBusMessage::createMethodCall(
                item, menuPath, QStringLiteral("com.canonical.dbusmenu"), QStringLiteral("Event"));
            event << ids.value(label) << QStringLiteral("clicked")
                  << QVariant::fromValue(QDBusVariant(QVariant(0))) << 0u;
            return callAndWait(panel, event).type() == QDBusMessage::ReplyMessage;
        };

        QVERIFY(click("Connect/Home"));
        QTRY_COMPARE_WITH_TIMEOUT(property("IconName").toString(),
                                  QStringLiteral("qlumar-velkoro-connecting"), 20000);
        QCOMPARE(toolTipTitle(property("ToolTip")), QStringLiteral("qLumar VPN - Connecting to Home…"));
        QCOMPARE(property("Status").toString(), QStringLiteral("Active"));

        QVERIFY(QFile::remove(hold));
        QTRY_COMPARE_WITH_TIMEOUT(property("IconName").toString(), QStringLiteral("qlumar-velkoro-connected"),
                                  20000);
        QCOMPARE(toolTipTitle(property("ToolTip")).section(QLatin1Char('\n'), 0, 0),
                 QStringLiteral("qLumar VPN - Home"));
        QCOMPARE(property("Status").toString(), QStringLiteral("Active"));

        QVERIFY(click("Disconnect"));
        QTRY_COMPARE_WITH_TIMEOUT(property("IconName").toString(),
                                  QStringLiteral("qlumar-velkoro-disconnected"), 20000);
        QCOMPARE(toolTipTitle(property("ToolTip")).section(QLatin1Char('\n'), 0, 0),
                 QStringLiteral("qLumar VPN - no connection"));
        QCOMPARE(property("Status").toString(), QStringLiteral("Active"));

        QVERIFY(click("Exit"));
        QVERIFY(manager.waitForFinished(20000));
        QCOMPARE(manager.exitStatus(), QProcess::NormalExit);
        QCOMPARE(manager.exitCode(), 0);
    }

    void minimizedFallsBackToTheWindowWhenNoTrayComes()
    {
        PrivateBus bus;
        if (!bus.start())
            QSKIP(qPrintable(bus.error()));
        QDBusConnection client = QDBusConnection::connectToBus(bus.address(), QStringLiteral("tray-client"));
        const auto disconnect =
            qScopeGuard([] { QDBusConnection::disconnectFromBus(QStringLiteral("tray-client")); });
        TrayHost host(client);
        Startup::Options options;
        options.trayAvailable = false;
        options.trayHost = &host;
        options.request.minimized = true;
        options.trayWaitMilliseconds = 200;
        QCOMPARE(runWith(options,
                         [&](MainWindow* w) {
                             QVERIFY(!w->isVisible());
                             QTRY_VERIFY(w->isVisible());
                             QVERIFY(w->noTrayNotice()->isVisible());
                             w->close();
                         }),
                 0);
    }
};

int main(int argc, char* argv[])
{
    if (argc == 2 && std::strcmp(argv[1], managerChildSwitch) == 0)
        return runManagerChild();
    QApplication app(argc, argv);
    app.setAttribute(Qt::AA_Use96Dpi, true);
    TestDesktop test;
    return QTest::qExec(&test, argc, argv);
}
#include "tst_desktop.moc"
