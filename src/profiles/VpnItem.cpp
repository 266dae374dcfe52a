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
    // Every entry of every reload asks for it, and the picture table keeps one icon for the whole
    // run. Never destroyed, as the table's own: a pixmap must not outlive the application object.
    static const auto* icon = new QIcon(Pictures::icon(QStringLiteral(":img/vpn.png")));
    return *icon;
}

QIcon VpnItem::connectedIcon()
{
    return Pictures::icon(QStringLiteral(":img/vpn_con.png"));
}
