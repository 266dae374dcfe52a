#include "VpnItem.h"

#include "app/Pictures.h"

#include <QCoreApplication>
#include <QHash>
#include <QIcon>

VpnItem::VpnItem(const QString& confPath, const QString& dirName, QListWidget* list)
    : QListWidgetItem(list, QListWidgetItem::Type), m_dirName(dirName), m_confPath(confPath)
{
    setIcon(idleIcon());
    setText(QCoreApplication::translate("QObject", "[untitled VPN connection]"));
    m_data = ConfReader::readFile(confPath);
    setText(displayName());
}

VpnItem::~VpnItem() = default;

QString VpnItem::displayName() const
{
    return m_data.vpnName.isEmpty() ? m_dirName : m_data.vpnName;
}

QIcon VpnItem::idleIcon()
{
    return Pictures::icon(QStringLiteral(":img/vpn.png"));
}

QIcon VpnItem::connectedIcon()
{
    return Pictures::icon(QStringLiteral(":img/vpn_con.png"));
}
