// A connection's start and end as the user meets them: asking again after a rejected password,
// saved secrets, suspend and resume, certificate expiry and the log's menu. The engine is a shell
// stand-in that takes "s3cret" (as password or PIN) and rejects anything else; the login cases use
// the simulator.

#include "FakeLogind.h"
#include "GuiTestBase.h"
#include "PrivateBus.h"
#include "TestCertificates.h"
#include "TestKeyring.h"

#include "app/MainWindow.h"
#include "app/Prompt.h"
#include "connection/SavedSecrets.h"
#include "profiles/VpnItem.h"

#include <QAction>
#include <QClipboard>
#include <QDirIterator>
#include <QListWidget>
#include <QMenu>
#include <QPlainTextEdit>
#include <QScopeGuard>
#include <QtTest>

class TestConnectFlow : public GuiTestBase
{
    Q_OBJECT

    QTemporaryDir m_fixtures;
    MainWindow* m_window = nullptr;
    TestKeyring m_keyring;
    PrivateBus m_systemBus; // the process's system bus, with logind on it
    std::unique_ptr<FakeLogind> m_logind;
    QString m_keyringError; // why there is no keyring, once known
    bool m_keyringStarted = false;

    // The keyring is started by the first test that needs it: the tests before it see none.
    bool startKeyring()
    {
        if (!m_keyringStarted && m_keyringError.isEmpty())
            m_keyringStarted = m_keyring.start(&m_keyringError);
        return m_keyringStarted;
    }

    QAction* action(const char* name) { return m_window->findChild<QAction*>(QLatin1String(name)); }
    QListWidget* list() { return m_window->findChild<QListWidget*>(QStringLiteral("vpnList")); }
    QPlainTextEdit* log() { return m_window->findChild<QPlainTextEdit*>(QStringLiteral("vpnLog")); }
    QString attemptsPath() const { return m_fixtures.filePath(QStringLiteral("attempts")); }

    // The secrets the engine was started with, one per attempt.
    QStringList attempts() const
    {
        return QString::fromUtf8(ScratchHome::readFile(attemptsPath())).split('\n', Qt::SkipEmptyParts);
    }

    void writeProfile(const QString& dir, const QByteArray& name, bool pkcs12)
    {
        const QByteArray key =
            pkcs12 ? QByteArray("pkcs12 p12\n") : QByteArray("ca ca\ncert user\nkey \"k\"\n");
        QVERIFY(ScratchHome::writeFile(home()->rootPath() + "/" + dir + "/conf",
                                       "#\n# qLumarVpnName " + name + "\n#\nremote vpn.example.org\n" + key));
    }

    VpnItem* profile(const QString& dir)
    {
        for (int i = 0; i < list()->count(); ++i) {
            auto* item = static_cast<VpnItem*>(list()->item(i));
            if (item->dirName() == dir)
                return item;
        }
        return nullptr;
    }

    void select(VpnItem* item) { list()->setCurrentItem(item); }

    QList<Prompt::Shown> passwordPrompts() const
    {
        QList<Prompt::Shown> prompts;
        for (const Prompt::Shown& shown : Prompt::history())
            if (shown.kind == Prompt::Kind::Text && shown.echo == QLineEdit::Password)
                prompts.append(shown);
        return prompts;
    }

    int countMessages(const QString& text) const
    {
        int count = 0;
        for (const Prompt::Shown& shown : Prompt::messages())
            count += shown.text == text ? 1 : 0;
        return count;
    }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(m_fixtures.isValid());
        const QString engine = m_fixtures.filePath(QStringLiteral("engine.sh"));
        QVERIFY(ScratchHome::writeFile(engine, "#!/bin/sh\n"
                                               "for a in \"$@\"; do last=$a; done\n"
                                               "printf '%s\\n' \"$last\" >>'" +
                                                   QFile::encodeName(attemptsPath()) +
                                                   "'\n"
                                                   "case \"$last\" in\n"
                                                   "*s3cret) printf 'Initialization Sequence Completed\\n'; "
                                                   "exec sleep 60;;\n"
                                                   "*) printf 'Error: private key password verification "
                                                   "failed\\n'; exit 1;;\n"
                                                   "esac\n"));
        QVERIFY(QFile::setPermissions(engine, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
        qputenv("QLUMAR_ENGINE_PATH", QFile::encodeName(engine));
        // Before any window opens the session bus.
        m_keyring.useBus(&m_keyringError);
        if (m_systemBus.start()) {
            qputenv("DBUS_SYSTEM_BUS_ADDRESS", m_systemBus.address().toUtf8());
            m_logind = std::make_unique<FakeLogind>(
                QDBusConnection::connectToBus(m_systemBus.address(), QStringLiteral("logind")));
            QVERIFY(m_logind->start());
        }
    }

    void init()
    {
        GuiTestBase::init();
        QFile::remove(attemptsPath());
        m_window = mainWindow(true);
    }

    void cleanup()
    {
        m_window = nullptr;
        GuiTestBase::cleanup();
    }

    void wrongPasswordAsksAgain_data()
    {
        QTest::addColumn<bool>("pkcs12");
        QTest::addColumn<bool>("cancelSecond");
        QTest::addColumn<QString>("label");

        QTest::newRow("PKCS#12, right password the second time") << true << false << "Password:";
        QTest::newRow("token, right PIN the second time") << false << false << "PIN:";
        QTest::newRow("cancel the second prompt") << true << true << "Password:";
    }

    void wrongPasswordAsksAgain()
    {
        QFETCH(bool, pkcs12);
        QFETCH(bool, cancelSecond);
        QFETCH(QString, label);

        writeProfile("0000", "Office", pkcs12);
        writeProfile("0001", "Home", pkcs12);
        m_window->loadVpnList();
        select(profile("0001"));
        Prompt::answerText("wrong");
        if (cancelSecond)
            Prompt::answerCancel();
        else
            Prompt::answerText("s3cret");
        triggerAction(action("connectAction"));

        if (cancelSecond) {
            QTRY_COMPARE(passwordPrompts().size(), 2);
            QTRY_VERIFY(!m_window->isVpnRunning());
            QCOMPARE(attempts().size(), 1);
            // The log still says why.
            QVERIFY(log()->toPlainText().contains("password verification failed"));
        } else {
            QTRY_VERIFY_WITH_TIMEOUT(m_window->isVpnInitialized(), 15000);
            QCOMPARE(m_window->activeProfile(), profile("0001"));
            QCOMPARE(attempts().size(), 2);
            QVERIFY(attempts().at(1).endsWith("s3cret"));
        }
        QCOMPARE(countMessages("Incorrect password!"), 1);
        const QList<Prompt::Shown> prompts = passwordPrompts();
        QCOMPARE(prompts.size(), 2);
        QCOMPARE(prompts.at(0).text, QStringLiteral("Password:"));
        QCOMPARE(prompts.at(1).text, label);
        for (const Prompt::Shown& prompt : prompts) {
            QCOMPARE(prompt.title, QStringLiteral("Enter private key password"));
            QCOMPARE(prompt.profile, QStringLiteral("Home"));
        }
        // Nothing was connected, so nothing was disconnected either: the only balloon is "Connected".
        QCOMPARE(m_window->balloonCount(), cancelSecond ? 0 : 1);
        if (!cancelSecond) {
            triggerAction(action("disconnectAction"));
            QTRY_VERIFY(!m_window->isVpnRunning());
            QCOMPARE(m_window->lastBalloon().title, QStringLiteral("Disconnected"));
        }
    }

    // Before the keyring tests: the keyring starts with the first of them.
    void rememberIsOffWithoutAKeyring()
    {
        writeProfile("0000", "Office", true);
        m_window->loadVpnList();
        select(profile("0000"));
        Prompt::answerPassword("s3cret", true);
        triggerAction(action("connectAction"));
        QTRY_VERIFY_WITH_TIMEOUT(m_window->isVpnInitialized(), 15000);
        const Prompt::Shown prompt = passwordPrompts().at(0);
        QCOMPARE(prompt.remember, QStringLiteral("Remember"));
        QVERIFY(!prompt.rememberEnabled);
        QCOMPARE(prompt.rememberToolTip, QStringLiteral("No keyring service is running, so nothing can be "
                                                        "remembered."));
        QVERIFY(!action("forgetSecretAction")->isEnabled());
        triggerAction(action("disconnectAction"));
        QTRY_VERIFY(!m_window->isVpnRunning());
        triggerAction(action("connectAction"));
        QCOMPARE(passwordPrompts().size(), 2);
    }

    void rememberedSecretConnectsWithoutAPrompt_data()
    {
        QTest::addColumn<bool>("pkcs12");
        QTest::addColumn<QMessageBox::StandardButton>("lockoutAnswer"); // token profiles only
        QTest::addColumn<bool>("remembered");

        QTest::newRow("PKCS#12 password") << true << QMessageBox::NoButton << true;
        QTest::newRow("PIN, lockout warning accepted") << false << QMessageBox::Yes << true;
        QTest::newRow("PIN, lockout warning declined") << false << QMessageBox::No << false;
    }

    void rememberedSecretConnectsWithoutAPrompt()
    {
        if (!startKeyring())
            QSKIP(qPrintable(m_keyringError));
        QFETCH(bool, pkcs12);
        QFETCH(QMessageBox::StandardButton, lockoutAnswer);
        QFETCH(bool, remembered);

        writeProfile("0000", "Office", pkcs12);
        m_window->loadVpnList();
        select(profile("0000"));
        // A wrong secret is not kept, even with Remember ticked.
        Prompt::answerPassword("wrong", true);
        Prompt::answerPassword("s3cret", true);
        if (!pkcs12) {
            // The lockout warning, "Incorrect password!", the lockout warning again.
            Prompt::answerButton(lockoutAnswer);
            Prompt::answerButton(QMessageBox::Ok);
            Prompt::answerButton(lockoutAnswer);
        }
        triggerAction(action("connectAction"));
        QTRY_VERIFY_WITH_TIMEOUT(m_window->isVpnInitialized(), 15000);
        QCOMPARE(passwordPrompts().at(0).remember, QStringLiteral("Remember"));
        QVERIFY(passwordPrompts().at(0).rememberEnabled);
        QCOMPARE(countMessages(QStringLiteral("A remembered PIN is sent to the token on every connection. If "
                                              "the PIN on the token is changed, the remembered one is "
                                              "rejected and forgotten, but each wrong try counts towards the "
                                              "token's lockout.\n\nRemember the PIN anyway?")),
                 pkcs12 ? 0 : 2);
        QTRY_COMPARE_WITH_TIMEOUT(action("forgetSecretAction")->isEnabled(), remembered, 20000);

        triggerAction(action("disconnectAction"));
        QTRY_VERIFY(!m_window->isVpnRunning());
        if (!remembered)
            Prompt::answerText("s3cret");
        triggerAction(action("connectAction"));
        QTRY_VERIFY_WITH_TIMEOUT(m_window->isVpnInitialized(), 20000);
        QCOMPARE(passwordPrompts().size(), remembered ? 2 : 3);
        QCOMPARE(attempts().size(), 3);
        QVERIFY(attempts().at(2).endsWith("s3cret"));

        // Nothing of ours holds it.
        QDirIterator files(home()->path(), QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
        while (files.hasNext())
            QVERIFY2(!ScratchHome::readFile(files.next()).contains("s3cret"), qPrintable(files.filePath()));

        if (!remembered)
            return;
        // Forgotten from the profile's menu, it is asked for again.
        triggerAction(action("disconnectAction"));
        QTRY_VERIFY(!m_window->isVpnRunning());
        QVERIFY(list()->actions().contains(action("forgetSecretAction")));
        triggerAction(action("forgetSecretAction"));
        QVERIFY(!action("forgetSecretAction")->isEnabled());
        Prompt::answerText("s3cret");
        triggerAction(action("connectAction"));
        QTRY_VERIFY_WITH_TIMEOUT(m_window->isVpnInitialized(), 20000);
        QCOMPARE(passwordPrompts().size(), 3);
    }

    // A saved secret that stopped working is tried once, removed, and the user is asked.
    void rejectedSavedSecretIsForgottenAndAsked()
    {
        if (!startKeyring())
            QSKIP(qPrintable(m_keyringError));
        writeProfile("0000", "Office", true);
        SavedSecrets saved(QDir::current().filePath("settings.ini"));
        QSignalSpy changed(&saved, &SavedSecrets::changed);
        saved.save("0000", "outdated");
        QVERIFY(changed.wait(20000));
        m_window->loadVpnList();
        select(profile("0000"));
        QVERIFY(action("forgetSecretAction")->isEnabled());

        Prompt::answerText("s3cret");
        triggerAction(action("connectAction"));
        QTRY_VERIFY_WITH_TIMEOUT(m_window->isVpnInitialized(), 20000);
        QCOMPARE(attempts(), QStringList({"outdated", "s3cret"}));
        QCOMPARE(countMessages("Incorrect password!"), 1);
        QCOMPARE(passwordPrompts().size(), 1);
        QVERIFY(!saved.has("0000"));
        QSignalSpy loaded(&saved, &SavedSecrets::loaded);
        saved.load("0000");
        QVERIFY(loaded.wait(20000));
        QCOMPARE(loaded.at(0).at(1).toBool(), false);
    }

    // A remembered login password is sent without asking; once the server refuses it, it is forgotten
    // and the user asked, with the username kept. The engine is the simulator, which asks a login
    // over the engine channel and takes only QLUMAR_ENGINE_LOGIN.
    void rememberedLoginIsUsedUntilRefused()
    {
        if (!startKeyring())
            QSKIP(qPrintable(m_keyringError));
        const QByteArray shellEngine = qgetenv("QLUMAR_ENGINE_PATH");
        const auto restore = qScopeGuard([&] {
            qputenv("QLUMAR_ENGINE_PATH", shellEngine);
            qunsetenv("QLUMAR_ENGINE_LOGIN");
        });
        qputenv("QLUMAR_ENGINE_PATH", QFile::encodeName(builtProgram(QStringLiteral("qlumar_openvpn"))));
        qputenv("QLUMAR_ENGINE", "simulator");
        qputenv("QLUMAR_ENGINE_LOGIN", "alice:Sesame-42");
        QVERIFY(
            ScratchHome::writeFile(home()->rootPath() + "/0000/conf",
                                   "#\n# qLumarVpnName Shop\n#\nremote vpn.example.org\nauth-user-pass\n"));
        m_window->loadVpnList();
        select(profile("0000"));
        const auto logins = [] {
            QList<Prompt::Shown> shown;
            for (const Prompt::Shown& prompt : Prompt::history())
                if (prompt.kind == Prompt::Kind::Login)
                    shown.append(prompt);
            return shown;
        };

        Prompt::answerLogin("alice", "Sesame-42", true);
        triggerAction(action("connectAction"));
        QTRY_VERIFY_WITH_TIMEOUT(m_window->isVpnInitialized(), 20000);
        QVERIFY(logins().at(0).rememberEnabled);
        QTRY_VERIFY_WITH_TIMEOUT(action("forgetSecretAction")->isEnabled(), 20000);
        triggerAction(action("disconnectAction"));
        QTRY_VERIFY(!m_window->isVpnRunning());

        triggerAction(action("connectAction"));
        QTRY_VERIFY_WITH_TIMEOUT(m_window->isVpnInitialized(), 20000);
        QCOMPARE(logins().size(), 1);
        QVERIFY(Prompt::messages().isEmpty());
        triggerAction(action("disconnectAction"));
        QTRY_VERIFY(!m_window->isVpnRunning());

        // The password was changed at the server.
        qputenv("QLUMAR_ENGINE_LOGIN", "alice:Sesame-43");
        Prompt::answerLogin("alice", "Sesame-43", false);
        triggerAction(action("connectAction"));
        QTRY_VERIFY_WITH_TIMEOUT(m_window->isVpnInitialized(), 20000);
        QCOMPARE(logins().size(), 2);
        QCOMPARE(logins().at(1).username, QStringLiteral("alice"));
        QCOMPARE(countMessages("The server rejected the username or password."), 1);
        QTRY_VERIFY_WITH_TIMEOUT(!action("forgetSecretAction")->isEnabled(), 20000);
        SavedSecrets saved(QDir::current().filePath("settings.ini"));
        QVERIFY(!saved.has("0000"));
        triggerAction(action("disconnectAction"));
        QTRY_VERIFY(!m_window->isVpnRunning());
    }

    void sleepClosesTheTunnelAndResumeBringsItBack_data()
    {
        QTest::addColumn<bool>("reconnect");
        QTest::newRow("reconnect automatically") << true;
        QTest::newRow("reconnect turned off") << false;
    }

    void sleepClosesTheTunnelAndResumeBringsItBack()
    {
        if (!m_logind)
            QSKIP(qPrintable(m_systemBus.error()));
        QFETCH(bool, reconnect);
        writeProfile("0000", "Office", true);
        m_window->loadVpnList();
        select(profile("0000"));
        Prompt::answerText("s3cret");
        triggerAction(action("connectAction"));
        QTRY_VERIFY_WITH_TIMEOUT(m_window->isVpnInitialized(), 15000);
        // Earlier windows' inhibitors are closed; the last one handed out is this window's.
        QTRY_VERIFY(!m_logind->readEnds.isEmpty() && FakeLogind::writeEndOpen(m_logind->readEnds.last()));
        const int inhibitor = m_logind->readEnds.last();
        const qsizetype inhibits = m_logind->calls.size();

        QAction* reconnectAction = action("reconnectAction");
        QVERIFY(m_window->tray()->contextMenu()->actions().contains(reconnectAction));
        QVERIFY(reconnectAction->isChecked());
        if (!reconnect)
            triggerAction(reconnectAction);
        QCOMPARE(reconnectAction->isChecked(), reconnect);

        QVERIFY(m_logind->prepareForSleep(true));
        QTRY_VERIFY(!m_window->isVpnRunning());
        // Sleep goes on once the engine has ended.
        QTRY_VERIFY(!FakeLogind::writeEndOpen(inhibitor));
        QCOMPARE(passwordPrompts().size(), 1);

        Prompt::answerText("s3cret");
        QVERIFY(m_logind->prepareForSleep(false));
        // Ready for the next sleep.
        QTRY_COMPARE(m_logind->calls.size(), inhibits + 1);
        if (reconnect) {
            // Nothing saved: the user is asked.
            QTRY_VERIFY_WITH_TIMEOUT(m_window->isVpnInitialized(), 15000);
            QCOMPARE(passwordPrompts().size(), 2);
            QCOMPARE(attempts().size(), 2);
        } else {
            QCoreApplication::processEvents();
            QVERIFY(!m_window->isVpnRunning());
            QCOMPARE(passwordPrompts().size(), 1);
            // The choice outlives the window.
            m_window = mainWindow(true);
            QVERIFY(!action("reconnectAction")->isChecked());
        }
    }

    void certificateExpiryAtConnect_data()
    {
        QTest::addColumn<bool>("pkcs12");
        QTest::addColumn<int>("daysLeft");
        QTest::newRow("user certificate 10 days from its end") << false << 10;
        QTest::newRow("PKCS#12 certificate 10 days from its end") << true << 10;
        QTest::newRow("expired user certificate") << false << -1;
        QTest::newRow("expired PKCS#12 certificate") << true << -1;
    }

    void certificateExpiryAtConnect()
    {
        QFETCH(bool, pkcs12);
        QFETCH(int, daysLeft);
        const QDateTime now = QDateTime::currentDateTimeUtc();
        const Cert cert = makeCertificate("User", "Test CA", now.addDays(-300), now.addDays(daysLeft));
        // A provider's PKCS#12 file carries its CA, often ending with the user's certificate.
        const Cert ca = makeCertificate("Test CA", "Test CA", now.addDays(-300),
                                        pkcs12 ? now.addDays(daysLeft) : now.addYears(5));
        writeProfile("0000", "Office", pkcs12);
        const QString dir = home()->rootPath() + "/0000/";
        if (pkcs12) {
            // Its certificates are encrypted: only the password shows them.
            QVERIFY(ScratchHome::writeFile(dir + "p12", ::pkcs12(cert, 0, "s3cret", &ca)));
        } else {
            QVERIFY(ScratchHome::writeFile(dir + "ca", pem(ca)));
            QVERIFY(ScratchHome::writeFile(dir + "user", pem(cert)));
        }
        const QString file = pkcs12 ? "p12 (User)" : "user";
        const QString date =
            QLocale().toString(now.addDays(daysLeft).toLocalTime().date(), QLocale::ShortFormat);
        m_window->loadVpnList();
        select(profile("0000"));

        for (int connect = 0; connect < 2; ++connect) {
            Prompt::answerText("s3cret");
            triggerAction(action("connectAction"));
            if (daysLeft < 0) {
                QCOMPARE(Prompt::messages().size(), connect + 1);
                const Prompt::Shown shown = Prompt::messages().last();
                QCOMPARE(shown.title, QStringLiteral("Certificate expired"));
                QCOMPARE(shown.text, QString("The certificate %1 expired on %2.").arg(file, date));
                QVERIFY(!m_window->isVpnRunning());
                QVERIFY(attempts().isEmpty());
                continue;
            }
            QTRY_VERIFY_WITH_TIMEOUT(m_window->isVpnInitialized(), 15000);
            // Warned once in a run, however often it connects.
            QCOMPARE(Prompt::messages().size(), 1);
            const Prompt::Shown shown = Prompt::messages().first();
            QCOMPARE(shown.title, QStringLiteral("Certificate expires soon"));
            QString expected = QString("The certificate %1 expires on %2.").arg(file, date);
            if (pkcs12)
                expected += QString("\nThe certificate p12 (Test CA) expires on %1.").arg(date);
            QCOMPARE(shown.text, expected);
            triggerAction(action("disconnectAction"));
            QTRY_VERIFY(!m_window->isVpnRunning());
        }
    }

    void logMenuCopiesSelectsAndSaves()
    {
        QPlainTextEdit* view = log();
        view->setPlainText("first line\nzażółć second line");
        QStringList texts;
        for (QAction* a : view->actions())
            texts << a->text();
        QCOMPARE(view->contextMenuPolicy(), Qt::ActionsContextMenu);
        QCOMPARE(texts, QStringList({"&Copy", "Select &all", QString::fromUtf8("Save log\u2026")}));
        auto logAction = [view](const char* name) { return view->findChild<QAction*>(QLatin1String(name)); };

        QVERIFY(!logAction("copyLogAction")->isEnabled()); // nothing selected yet
        triggerAction(logAction("selectAllLogAction"));
        QGuiApplication::clipboard()->clear();
        triggerAction(logAction("copyLogAction"));
        QCOMPARE(QGuiApplication::clipboard()->text(), view->toPlainText());

        const QString path = m_fixtures.filePath("saved.log");
        Prompt::answerFile(path);
        triggerAction(logAction("saveLogAction"));
        QCOMPARE(Prompt::history().last().kind, Prompt::Kind::SaveFile);
        QCOMPARE(QString::fromUtf8(ScratchHome::readFile(path)), view->toPlainText() + "\n");
        QVERIFY(Prompt::messages().isEmpty());

        // A place that cannot be written says so, and why.
        const QString unwritable = m_fixtures.filePath("no such directory/saved.log");
        Prompt::answerFile(unwritable);
        triggerAction(logAction("saveLogAction"));
        QCOMPARE(Prompt::messages().size(), 1);
        QCOMPARE(Prompt::messages().first().icon, QMessageBox::Critical);
        QVERIFY2(
            Prompt::messages().first().text.startsWith("The log could not be saved to " + unwritable + ": "),
            qPrintable(Prompt::messages().first().text));
        QVERIFY(!QFile::exists(unwritable));
    }
};

QTEST_MAIN(TestConnectFlow)
#include "tst_connectflow.moc"
