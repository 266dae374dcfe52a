#include "VpnItem.h"

#include <QCoreApplication>
#include <QIcon>

VpnItem::VpnItem(const QString& confPath, const QString& dirName, QListWidget* list)
    : QListWidgetItem(list, QListWidgetItem::Type), m_dirName(dirName), m_confPath(confPath)
{
    setIcon(QIcon(QStringLiteral(":img/vpn.png")));
    setText(QCoreApplication::translate("QObject", "[untitled VPN connection]"));
    m_data = ConfReader::readFile(confPath);
    setText(displayName());
}

VpnItem::~VpnItem() = default;

QString VpnItem::displayName() const
{
    return m_data.vpnName.isEmpty() ? m_dirName : m_data.vpnName;
}
