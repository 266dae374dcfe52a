#include "VpnItem.h"

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

namespace {

// Never destroyed: a pixmap must not outlive the application object, which static destructors
// would make it do.
const QIcon& sharedIcon(const char* path)
{
    static QHash<QByteArray, QIcon>* icons = new QHash<QByteArray, QIcon>;
    auto it = icons->find(path);
    if (it == icons->end())
        it = icons->insert(path, QIcon(QString::fromLatin1(path)));
    return *it;
}

} // namespace

QIcon VpnItem::idleIcon()
{
    return sharedIcon(":img/vpn.png");
}

QIcon VpnItem::connectedIcon()
{
    return sharedIcon(":img/vpn_con.png");
}
