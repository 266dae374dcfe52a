#pragma once

#include <QDialog>

class QLineEdit;
class QPushButton;
class VpnItem;

// Edits an existing PKCS#12 profile. The profile record belongs to the main window's list and
// must outlive the dialog.
class VpnPKCS12EditWindow : public QDialog
{
    Q_OBJECT

public:
    explicit VpnPKCS12EditWindow(VpnItem* item, QWidget* parent = nullptr);

private Q_SLOTS:
    void pkcs12BrowseSlot();
    void saveSlot();

private:
    VpnItem* m_item = nullptr;
    QLineEdit* m_nameEdit = nullptr;
    QLineEdit* m_serverEdit = nullptr;
    QLineEdit* m_pkcs12Edit = nullptr;
    QPushButton* m_pkcs12Button = nullptr;
    QPushButton* m_cancelButton = nullptr;
    QPushButton* m_saveButton = nullptr;
};
