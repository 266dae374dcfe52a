#include "VpnItem.h"

#include "app/Pictures.h"

#include <QCoreApplication>
#include <QHash>
#include <QIcon>

VpnItem::VpnItem(const QString& confPath, const QString& dirName, QListWidget* list)
    : QListWidgetItem(list, QListWidgetItem::Type), m_dirName(dirName), m_confPath(confPath)
{
}

VpnItem::~VpnItem() = default;

namespace {

// The name a new entry once showed until its file was read. An entry now shows its directory name
// when the file gives none; the text stays in the catalogue with its translation.
[[maybe_unused]] const char* const kUntitledVpn = QT_TRANSLATE_NOOP("QObject", "[untitled VPN connection]");

} // namespace

const ProfileData& VpnItem::profile() const
{
    if (!m_read) {
        m_data = ConfReader::readFile(m_confPath);
        m_read = true;
    }
    return m_data;
}

QString VpnItem::displayName() const
{
    const QString& name = profile().vpnName;
    return name.isEmpty() ? m_dirName : name;
}

QVariant VpnItem::data(int role) const
{
    switch (role) {
    case Qt::DisplayRole:
    case Qt::EditRole:
        return displayName();
    case Qt::DecorationRole: {
        QVariant set = QListWidgetItem::data(role);
        return set.isValid() ? set : QVariant(idleIcon());
    }
    default:
        return QListWidgetItem::data(role);
    }
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
