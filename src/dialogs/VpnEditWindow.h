#pragma once

#include <QByteArray>
#include <QDialog>
#include <QString>

class QLineEdit;
class QPushButton;
class VpnItem;

// Edits an existing certificate-and-key profile. The profile record belongs to the main
// window's list and must outlive the dialog.
class VpnEditWindow : public QDialog
{
    Q_OBJECT

public:
    explicit VpnEditWindow(VpnItem* item, QWidget* parent = nullptr);

    const QByteArray& caContents() const { return m_caContents; }
    const QByteArray& userCertContents() const { return m_userCertContents; }

private Q_SLOTS:
    void caCertBrowseSlot();
    void userCertBrowseSlot();
    void qLumarKeyBrowseSlot();
    void saveSlot();

private:
    VpnItem* m_item = nullptr;
    QLineEdit* m_nameEdit = nullptr;
    QLineEdit* m_serverEdit = nullptr;
    QLineEdit* m_caEdit = nullptr;
    QString m_caPath;
    QByteArray m_caContents;
    QString m_caReadFrom; // the file m_caContents came from
    QPushButton* m_caButton = nullptr;
    QLineEdit* m_userEdit = nullptr;
    QString m_userCertPath;
    QByteArray m_userCertContents;
    QString m_userCertReadFrom;
    QPushButton* m_userButton = nullptr;
    QLineEdit* m_keyEdit = nullptr;
    QPushButton* m_keyButton = nullptr;
    QPushButton* m_cancelButton = nullptr;
    QPushButton* m_saveButton = nullptr;
};
