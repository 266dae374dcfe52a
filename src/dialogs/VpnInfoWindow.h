#pragma once

#include <QDialog>

class QPushButton;
class VpnItem;

// Shows one profile's settings as they were read from disk; nothing can be changed here.
class VpnInfoWindow : public QDialog
{
    Q_OBJECT

public:
    explicit VpnInfoWindow(VpnItem* item, QWidget* parent = nullptr);

private:
    VpnItem* m_item = nullptr;
    QPushButton* m_closeButton = nullptr;
};
