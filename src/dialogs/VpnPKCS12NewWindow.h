#pragma once

#include <QByteArray>
#include <QDialog>
#include <QString>

class QLineEdit;
class QPushButton;

// The wizard for a new profile whose credentials are one PKCS#12 file, referred to by its path.
class VpnPKCS12NewWindow : public QDialog
{
    Q_OBJECT

public:
    explicit VpnPKCS12NewWindow(QWidget* parent = nullptr);

    const QString& profileDirName() const { return m_profileDirName; }
    const QByteArray& templateContents() const { return m_templateContents; }

private Q_SLOTS:
    void templateBrowseSlot();
    void pkcs12BrowseSlot();
    void saveSlot();

private:
    QString m_profileDirName;
    QLineEdit* m_nameEdit = nullptr;
    QLineEdit* m_templateEdit = nullptr;
    QByteArray m_templateContents;
    QPushButton* m_templateButton = nullptr;
    QLineEdit* m_serverEdit = nullptr;
    QLineEdit* m_pkcs12Edit = nullptr;
    QPushButton* m_pkcs12Button = nullptr;
    QPushButton* m_cancelButton = nullptr;
    QPushButton* m_saveButton = nullptr;
};
