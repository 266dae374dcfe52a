#include "ConnectAction.h"

#include "profiles/VpnItem.h"

#include <QListWidget>

ConnectAction::ConnectAction(QListWidgetItem* item, QObject* parent) : QAction(parent), m_item(item)
{
    if (auto* vpn = dynamic_cast<VpnItem*>(item))
        setText(vpn->displayName());
    connect(this, &QAction::triggered, this, &ConnectAction::vpnConnectSlot);
}

void ConnectAction::vpnConnectSlot()
{
    if (QListWidget* list = m_item->listWidget())
        list->setCurrentItem(m_item);
    Q_EMIT vpnItemActiveSig(m_item);
    Q_EMIT vpnConnectSig();
}
