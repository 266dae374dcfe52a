#pragma once

#include <QAction>

class QListWidgetItem;

// One profile's entry in the tray's Connect submenu. Choosing it selects the profile in the list,
// refreshes the actions as a press would, then starts the connection, in that order.
class ConnectAction : public QAction
{
    Q_OBJECT

public:
    ConnectAction(QListWidgetItem* item, QObject* parent);

    QListWidgetItem* item() const { return m_item; }

Q_SIGNALS:
    void vpnItemActiveSig(QListWidgetItem* item);
    void vpnConnectSig();

public Q_SLOTS:
    void vpnConnectSlot();

private:
    QListWidgetItem* m_item;
};
