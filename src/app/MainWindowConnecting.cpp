// The parts of the main window around a connection's start and end: asking for the secret,
// asking again after a rejected one, secrets saved in the keyring, and the tunnel closed before
// suspend and brought back after resume or a change of network, certificates near their end, and
// the log's menu.

#include "MainWindow.h"

#include "app/Prompt.h"
#include "connection/CappedLog.h"
#include "connection/NetworkWatcher.h"
#include "connection/SavedSecrets.h"
#include "connection/SleepWatcher.h"
#include "connection/VpnConnection.h"
#include "profiles/CertificateInfo.h"
#include "profiles/VpnItem.h"

#include <QAction>
#include <QDBusConnection>
#include <QDir>
#include <QFileInfo>
#include <QMenu>
#include <QPlainTextEdit>
#include <QSaveFile>
#include <QSettings>
#include <QTimer>

namespace {

QString usernameKey(const QString& dirName)
{
    return QStringLiteral("usernames/") + dirName;
}

QString savedUsername(const QString& dirName)
{
    const QSettings settings(QDir::current().filePath(QStringLiteral("settings.ini")), QSettings::IniFormat);
    return settings.value(usernameKey(dirName)).toString();
}

} // namespace

void MainWindow::setUpSavedSecrets()
{
    m_savedSecrets = new SavedSecrets(QDir::current().filePath(QStringLiteral("settings.ini")), this);
    m_forgetSecretAction = new QAction(tr("Forget saved password"), this);
    m_forgetSecretAction->setObjectName(QStringLiteral("forgetSecretAction"));
    m_forgetSecretAction->setEnabled(false);
    connect(m_forgetSecretAction, &QAction::triggered, this, [this] {
        if (!selectedItem)
            return;
        for (const QString& name : {selectedItem->dirName(), loginSecretName(selectedItem->dirName())})
            if (m_savedSecrets->has(name))
                m_savedSecrets->forget(name);
    });
    connect(m_savedSecrets, &SavedSecrets::changed, this, [this] { updateForgetAction(selectedItem); });
    connect(m_savedSecrets, &SavedSecrets::loaded, this, &MainWindow::savedSecretLoaded);
    connect(m_savedSecrets, &SavedSecrets::loaded, this,
            [this](const QString& name, bool found, const QString& secret) {
                if (name != m_loadingLoginFor)
                    return;
                const QString id = m_loadingLoginId;
                m_loadingLoginFor.clear();
                m_loadingLoginId.clear();
                if (!found) {
                    askLogin(id, name);
                    return;
                }
                m_usingSavedLogin = true;
                vpnConnection->answerLogin(id, savedUsername(m_connectionDir), secret);
            });
    connect(m_savedSecrets, &SavedSecrets::saveFailed, this, [this](const QString&, const QString& error) {
        Prompt::message(this, QMessageBox::Warning, tr("Warning"),
                        tr("The password could not be saved in the keyring: %1").arg(error), QMessageBox::Ok);
    });
    connect(m_savedSecrets, &SavedSecrets::forgetFailed, this, [this](const QString&, const QString& error) {
        Prompt::message(this, QMessageBox::Warning, tr("Warning"),
                        tr("The saved password could not be removed from the keyring: %1").arg(error),
                        QMessageBox::Ok);
    });
    // Kept only once the secret has opened the tunnel: a wrong one is never saved.
    connect(vpnConnection, &VpnConnection::tunnelUp, this, [this] {
        if (!m_secretToSave.isEmpty() && m_secretToSaveFor == m_connectionDir)
            m_savedSecrets->save(m_secretToSaveFor, m_secretToSave);
        if (!m_loginToSave.isEmpty() && m_loginToSaveFor == loginSecretName(m_connectionDir))
            m_savedSecrets->save(m_loginToSaveFor, m_loginToSave);
        m_secretToSave.clear();
        m_secretToSaveFor.clear();
        m_loginToSave.clear();
        m_loginToSaveFor.clear();
    });
    connect(vpnConnection, &VpnConnection::finished, this, [this] {
        m_secretToSave.clear();
        m_secretToSaveFor.clear();
        m_loginToSave.clear();
        m_loginToSaveFor.clear();
        m_loadingLoginFor.clear();
        m_loadingLoginId.clear();
        m_usingSavedLogin = false;
    });
}

void MainWindow::forgetDeletedProfile(const QString& dirName)
{
    // A new profile may get this directory name: it must not inherit the secrets or the username.
    for (const QString& name : {dirName, loginSecretName(dirName)})
        if (m_savedSecrets->has(name))
            m_savedSecrets->forget(name);
    QSettings settings(QDir::current().filePath(QStringLiteral("settings.ini")), QSettings::IniFormat);
    settings.remove(usernameKey(dirName));
}

void MainWindow::updateForgetAction(const VpnItem* profile)
{
    m_forgetSecretAction->setEnabled(profile && (m_savedSecrets->has(profile->dirName()) ||
                                                 m_savedSecrets->has(loginSecretName(profile->dirName()))));
}

// A profile that signs in with a username and password alone keeps that password where other
// profiles keep their key's, so Forget and a deleted profile treat both alike; a profile with a key
// and a login keeps the login's password beside the key's.
QString MainWindow::loginSecretName(const QString& dirName) const
{
    const VpnItem* profile = profileByDirName(dirName);
    return profile && profile->isUserPasswordOnly() ? dirName : dirName + QStringLiteral("-login");
}

void MainWindow::answerLogin(const QString& id, bool rejected)
{
    const QString secretName = loginSecretName(m_connectionDir);
    if (rejected) {
        // A saved password that no longer works is never tried again.
        if (m_usingSavedLogin) {
            m_usingSavedLogin = false;
            m_savedSecrets->forget(secretName);
        }
        Prompt::message(this, QMessageBox::Critical, tr("Error"),
                        tr("The server rejected the username or password."), QMessageBox::Ok);
    } else if (m_savedSecrets->has(secretName) && !savedUsername(m_connectionDir).isEmpty()) {
        m_loadingLoginFor = secretName;
        m_loadingLoginId = id;
        m_savedSecrets->load(secretName);
        return;
    }
    askLogin(id, secretName);
}

void MainWindow::askLogin(const QString& id, const QString& secretName)
{
    const QString dirName = m_connectionDir;
    const VpnItem* profile = profileByDirName(dirName);
    Prompt::LoginRequest request;
    request.title = tr("Sign in to %1").arg(m_status.name);
    request.profile = profile ? profile->displayName() : m_status.name;
    request.username = savedUsername(dirName);
    request.remember = tr("Remember password");
    request.rememberEnabled = m_savedSecrets->isAvailable();
    if (!request.rememberEnabled)
        request.rememberToolTip = tr("No keyring service is running, so nothing can be remembered.");
    const Prompt::LoginAnswer answer = Prompt::getLogin(this, request);
    if (!answer.ok) {
        vpnConnection->cancelInput(id);
        return;
    }
    // The username is no secret: kept for next time as typed, in the profile root's settings.
    QSettings settings(QDir::current().filePath(QStringLiteral("settings.ini")), QSettings::IniFormat);
    settings.setValue(usernameKey(dirName), answer.username);
    m_usingSavedLogin = false;
    m_loginToSaveFor = answer.remember ? secretName : QString();
    m_loginToSave = answer.remember ? answer.password : QString();
    vpnConnection->answerLogin(id, answer.username, answer.password);
}

Prompt::PasswordAnswer MainWindow::askSecret(const VpnItem& profile, bool again)
{
    // The first prompt keeps its familiar words; asking again says what a token profile's key
    // wants, its token's PIN.
    Prompt::PasswordRequest request;
    request.title = tr("Enter private key password");
    request.label = again && !profile.isPKCS12() ? tr("PIN:") : tr("Password:");
    request.profile = profile.displayName();
    request.remember = tr("Remember");
    request.rememberEnabled = m_savedSecrets->isAvailable();
    if (!request.rememberEnabled)
        request.rememberToolTip = tr("No keyring service is running, so nothing can be remembered.");
    Prompt::PasswordAnswer answer = Prompt::getPassword(this, request);
    // A saved PIN is tried on every connect, and a token locks itself after a few wrong ones.
    if (answer.ok && answer.remember && !profile.isPKCS12()) {
        answer.remember =
            Prompt::message(this, QMessageBox::Warning, tr("Remember PIN"),
                            tr("A remembered PIN is sent to the token on every connection. If the PIN on the "
                               "token is changed, the remembered one is rejected and forgotten, but each "
                               "wrong try counts towards the token's lockout.\n\nRemember the PIN anyway?"),
                            QMessageBox::Yes | QMessageBox::No, QMessageBox::No) == QMessageBox::Yes;
    }
    return answer;
}

void MainWindow::connectProfile(const QString& dirName, bool again)
{
    const VpnItem* profile = profileByDirName(dirName);
    // While the keyring looks a secret up, the connect is already under way.
    if (vpnRunning || !profile || profileDialogOpen || !m_loadingSecretFor.isEmpty())
        return;
    if (!isVisible())
        show();
    // Asked again, the log still shows why until a new attempt begins.
    if (!again)
        clearConnectionLog();
    // Such a profile has no key to unlock: the engine asks for the username and password when the
    // server wants them.
    if (profile->isUserPasswordOnly()) {
        if (again)
            clearConnectionLog();
        m_usingSavedSecret = false;
        startConnection(dirName, QString());
        return;
    }
    if (!again && m_savedSecrets->has(dirName)) {
        m_loadingSecretFor = dirName;
        m_savedSecrets->load(dirName);
        return;
    }
    askAndStart(*profile, again);
}

void MainWindow::askAndStart(const VpnItem& profile, bool again)
{
    const QString dirName = profile.dirName();
    const Prompt::PasswordAnswer answer = askSecret(profile, again);
    if (!answer.ok)
        return;
    if (again)
        clearConnectionLog();
    if (!certificatesAllowConnect(profile, answer.secret))
        return;
    m_secretToSaveFor = answer.remember ? dirName : QString();
    m_secretToSave = answer.remember ? answer.secret : QString();
    m_usingSavedSecret = false;
    startConnection(dirName, answer.secret);
}

bool MainWindow::certificatesAllowConnect(const VpnItem& profile, const QString& secret)
{
    const QDir dir = QFileInfo(profile.confPath()).absoluteDir();
    QList<QPair<QString, CertificateInfo>> certificates;
    const auto add = [&](const QString& name, const QList<CertificateInfo>& read) {
        // A PKCS#12 file or a CA chain holds several: without the subject their warnings read alike.
        for (const CertificateInfo& certificate : read)
            certificates.append({read.size() > 1 && !certificate.commonName.isEmpty()
                                     ? QStringLiteral("%1 (%2)").arg(name, certificate.commonName)
                                     : name,
                                 certificate});
    };
    if (profile.isPKCS12()) {
        add(profile.pkcs12File(),
            CertificateInfo::fromPkcs12FileWithPassword(dir.absoluteFilePath(profile.pkcs12File()), secret));
    } else {
        for (const QString& name : {profile.caCert(), profile.userCert()})
            if (!name.isEmpty())
                add(name, CertificateInfo::fromFile(dir.absoluteFilePath(name)));
    }
    const QDateTime now = QDateTime::currentDateTimeUtc();
    QStringList soon;
    for (const auto& [name, certificate] : certificates) {
        const QString text = expiryWarning(certificate, name, now);
        if (text.isEmpty())
            continue;
        // The server would refuse it anyway, with a reason only the log shows.
        if (expiryState(certificate.notAfter, now) == ExpiryState::Expired) {
            Prompt::message(this, QMessageBox::Critical, tr("Certificate expired"), text, QMessageBox::Ok);
            return false;
        }
        soon << text;
    }
    if (!soon.isEmpty() && !m_expiryWarned.contains(profile.dirName())) {
        m_expiryWarned.insert(profile.dirName());
        Prompt::message(this, QMessageBox::Warning, tr("Certificate expires soon"),
                        soon.join(QLatin1Char('\n')), QMessageBox::Ok);
    }
    return true;
}

void MainWindow::savedSecretLoaded(const QString& dirName, bool found, const QString& secret)
{
    if (dirName != m_loadingSecretFor)
        return;
    m_loadingSecretFor.clear();
    const VpnItem* profile = profileByDirName(dirName);
    if (!profile || vpnRunning || profileDialogOpen)
        return;
    if (!found) {
        askAndStart(*profile, false);
        return;
    }
    m_secretToSave.clear();
    m_secretToSaveFor.clear();
    if (!certificatesAllowConnect(*profile, secret))
        return;
    m_usingSavedSecret = true;
    startConnection(dirName, secret);
}

void MainWindow::showPasswordRejected()
{
    // The engine ends by itself after this; once it has and the user has read why, the same
    // profile is asked for again. Both orders happen: the box runs a nested event loop.
    m_askAgainDir = m_connectionDir;
    m_askAgainReady = false;
    // A saved secret that no longer works is never tried again.
    if (m_usingSavedSecret) {
        m_usingSavedSecret = false;
        m_savedSecrets->forget(m_connectionDir);
    }
    Prompt::message(this, QMessageBox::Critical, tr("Error"), tr("Incorrect password!"), QMessageBox::Ok);
    m_askAgainReady = true;
    askAgainWhenIdle();
}

void MainWindow::askAgainWhenIdle()
{
    if (m_askAgainDir.isEmpty() || !m_askAgainReady || vpnRunning)
        return;
    const QString dirName = m_askAgainDir;
    m_askAgainDir.clear();
    // Queued: the end of the connection is still being handled when this is called.
    QTimer::singleShot(0, this, [this, dirName] { connectProfile(dirName, true); });
}

void MainWindow::clearConnectionLog()
{
    m_logFlush.stop();
    m_pendingLog.clear();
    m_pendingLogCharacters = 0;
    connectionLog->clear();
    vpnConnection->discardOutput();
}

void MainWindow::setUpSleepAndNetwork()
{
    const QSettings settings(QDir::current().filePath(QStringLiteral("settings.ini")), QSettings::IniFormat);
    m_reconnectAction = new QAction(tr("Reconnect automatically"), this);
    m_reconnectAction->setObjectName(QStringLiteral("reconnectAction"));
    m_reconnectAction->setCheckable(true);
    m_reconnectAction->setChecked(settings.value(QStringLiteral("reconnect"), true).toBool());
    connect(m_reconnectAction, &QAction::toggled, this, [](bool on) {
        QSettings changed(QDir::current().filePath(QStringLiteral("settings.ini")), QSettings::IniFormat);
        changed.setValue(QStringLiteral("reconnect"), on);
    });
    if (auto* languageMenu = trayMenu->findChild<QMenu*>(QStringLiteral("languageMenu")))
        trayMenu->insertAction(languageMenu->menuAction(), m_reconnectAction);

    m_networkWatcher = new NetworkWatcher(this);
    m_networkWatcher->setObjectName(QStringLiteral("networkWatcher"));
    // Started with the update check, after the first paint (startNetwork()).
    connect(m_networkWatcher, &NetworkWatcher::networkChanged, this, [this] {
        // The tunnel's own interface coming up is a change too: only a tunnel that has been up a
        // while is taken down for it.
        if (!vpnInitialized || !m_reconnectAction->isChecked() || m_closingForSleep ||
            m_tunnelUpSince.elapsed() < kNetworkSettleMs)
            return;
        reconnectWhenIdle(m_connectionDir);
        vpnConnection->stop();
    });
    connect(vpnConnection, &VpnConnection::tunnelUp, this, [this] { m_tunnelUpSince.start(); });

    connect(vpnConnection, &VpnConnection::finished, this, [this] {
        if (m_closingForSleep) {
            m_closingForSleep = false;
            if (m_sleepWatcher)
                m_sleepWatcher->releaseInhibitor();
        }
        if (!m_reconnectDir.isEmpty()) {
            const QString dirName = m_reconnectDir;
            m_reconnectDir.clear();
            QTimer::singleShot(0, this, [this, dirName] { connectProfile(dirName, false); });
        }
    });
}

// Connecting to the system bus waits for the bus to answer: it is done with the network, after
// the first window has been drawn. Nothing needs it before: no connection runs yet.
void MainWindow::watchSleep()
{
    if (m_sleepWatcher)
        return;
    m_sleepWatcher = new SleepWatcher(QDBusConnection::systemBus(), this);
    connect(m_sleepWatcher, &SleepWatcher::aboutToSleep, this, [this] {
        if (!vpnRunning) {
            m_sleepWatcher->releaseInhibitor();
            return;
        }
        // Closed cleanly while sleep waits; the inhibitor goes once the engine has ended.
        m_closingForSleep = true;
        m_resumeDir = m_reconnectAction->isChecked() ? m_connectionDir : QString();
        vpnConnection->stop();
    });
    connect(m_sleepWatcher, &SleepWatcher::resumed, this, [this] {
        const QString dirName = m_resumeDir;
        m_resumeDir.clear();
        if (!dirName.isEmpty())
            reconnectWhenIdle(dirName);
    });
}

void MainWindow::reconnectWhenIdle(const QString& dirName)
{
    // A connection still ending is waited for; the connect uses the saved secret or asks.
    if (vpnRunning) {
        m_reconnectDir = dirName;
        return;
    }
    QTimer::singleShot(0, this, [this, dirName] { connectProfile(dirName, false); });
}

void MainWindow::setUpLogMenu()
{
    auto* copy = new QAction(tr("&Copy"), vpnLog);
    copy->setObjectName(QStringLiteral("copyLogAction"));
    copy->setEnabled(false);
    connect(vpnLog, &QPlainTextEdit::copyAvailable, copy, &QAction::setEnabled);
    connect(copy, &QAction::triggered, vpnLog, &QPlainTextEdit::copy);
    auto* selectAll = new QAction(tr("Select &all"), vpnLog);
    selectAll->setObjectName(QStringLiteral("selectAllLogAction"));
    connect(selectAll, &QAction::triggered, vpnLog, &QPlainTextEdit::selectAll);
    auto* save = new QAction(tr("Save log…"), vpnLog);
    save->setObjectName(QStringLiteral("saveLogAction"));
    connect(save, &QAction::triggered, this, &MainWindow::saveLog);
    vpnLog->setContextMenuPolicy(Qt::ActionsContextMenu);
    vpnLog->addActions({copy, selectAll, save});
}

void MainWindow::saveLog()
{
    // Taken now: the log may grow while the dialog is open, and what was asked for is what it showed.
    const QByteArray text = vpnLog->toPlainText().toUtf8() + '\n';
    const QString path =
        Prompt::getSaveFileName(this, tr("Save log"), QDir::home().filePath(QStringLiteral("vpn.log")),
                                tr("Text files (*.txt *.log);;All files (*)"));
    if (path.isEmpty())
        return;
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(text) != text.size() || !file.commit()) {
        Prompt::message(this, QMessageBox::Critical, tr("Error"),
                        tr("The log could not be saved to %1: %2")
                            .arg(QDir::toNativeSeparators(path), file.errorString()),
                        QMessageBox::Ok);
    }
}
