#pragma once

#include <QByteArray>
#include <QDialog>
#include <QString>

class QLineEdit;
class QPushButton;

// The wizard for a new profile whose credentials are a CA certificate, a user certificate and
// the name of a key held by the token.
class VpnNewWindow : public QDialog
{
    Q_OBJECT

public:
    explicit VpnNewWindow(QWidget* parent = nullptr);

    // The directory the last successful save chose; empty before.
    const QString& profileDirName() const { return m_profileDirName; }
    const QByteArray& templateContents() const { return m_templateContents; }
    const QByteArray& caContents() const { return m_caContents; }
    const QByteArray& userCertContents() const { return m_userCertContents; }

private Q_SLOTS:
    void templateBrowseSlot();
    void caCertBrowseSlot();
    void userCertBrowseSlot();
    void qLumarKeyBrowseSlot();
    void saveSlot();

private:
    QString m_profileDirName;
    QLineEdit* m_nameEdit = nullptr;
    QLineEdit* m_templateEdit = nullptr;
    QByteArray m_templateContents;
    QPushButton* m_templateButton = nullptr;
    QLineEdit* m_serverEdit = nullptr;
    QLineEdit* m_caEdit = nullptr;
    QByteArray m_caContents;
    QString m_caReadFrom; // the file m_caContents came from
    QPushButton* m_caButton = nullptr;
    QLineEdit* m_userEdit = nullptr;
    QByteArray m_userCertContents;
    QString m_userCertReadFrom;
    QPushButton* m_userButton = nullptr;
    QLineEdit* m_keyEdit = nullptr;
    QPushButton* m_keyButton = nullptr;
    QPushButton* m_cancelButton = nullptr;
    QPushButton* m_saveButton = nullptr;
};
