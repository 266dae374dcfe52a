#pragma once

#include <QIcon>
#include <QListWidgetItem>
#include <QString>

#include "ConfReader.h"

// One connection profile: the record read from one profile directory and, at the same time, its
// entry in the connection list. Records are never updated in place; every change on disk is
// followed by a full reload of the list. The file itself is read the first time anything in it is
// needed: a list of thousands of profiles shows a screenful, and only those are asked for their names.
class VpnItem : public QListWidgetItem
{
public:
    VpnItem(const QString& confPath, const QString& dirName, QListWidget* list = nullptr);
    ~VpnItem() override;

    const QString& dirName() const { return m_dirName; }
    const QString& confPath() const { return m_confPath; }
    const QString& vpnName() const { return profile().vpnName; }
    const QString& server() const { return profile().server; }
    const QString& port() const { return profile().port; }
    const QString& caCert() const { return profile().caCert; }
    const QString& userCert() const { return profile().userCert; }
    const QString& keyName() const { return profile().keyName; }
    const QString& pkcs12File() const { return profile().pkcs12File; }

    // The name shown in the list and the tray menu: the profile's name, or its directory name when
    // the file gives none, so a damaged profile can still be told apart and deleted.
    QString displayName() const;

    // The list pictures, loaded once and shared by every entry.
    static QIcon idleIcon();      // ":img/vpn.png"
    static QIcon connectedIcon(); // ":img/vpn_con.png", while the profile's tunnel is up

    bool isPKCS12() const { return !profile().pkcs12File.isEmpty(); }
    // "auth-user-pass" and neither a PKCS#12 file nor a key: a profile that signs in with a
    // username and password alone, as an imported file without a certificate becomes.
    bool isUserPasswordOnly() const
    {
        const ProfileData& data = profile();
        return data.authUserPass && data.pkcs12File.isEmpty() && data.keyName.isEmpty();
    }

    bool isConnected() const { return m_connected; }
    void setConnected(bool connected) { m_connected = connected; }
    bool isBlocked() const { return m_blocked; }
    void setBlocked(bool blocked) { m_blocked = blocked; }

    // The text is the display name and the picture the idle one until another is set, both
    // answered here rather than stored, so that nothing is read before it is shown.
    QVariant data(int role) const override;

private:
    const ProfileData& profile() const;

    bool m_connected = false;
    mutable bool m_read = false;
    bool m_blocked = false;
    QString m_dirName;
    QString m_confPath;
    mutable ProfileData m_data;
};
