#pragma once

#include "profiles/OvpnImport.h"

#include <QDialog>
#include <QString>

class QLineEdit;
class QMimeData;
class QPushButton;
class QTreeWidget;

// Shows what importing an OpenVPN client file makes of it before anything is saved: the name
// (editable), the server, the kind and every line of the file with what became of it and why.
// Asks what the kind still needs: the password of the PKCS#12 file packed from a certificate and
// key, or the name of the key in the token. Save writes the profile in one step; Cancel writes
// nothing.
class ImportWindow : public QDialog
{
    Q_OBJECT

public:
    // `import` has read its file successfully.
    explicit ImportWindow(const OvpnImport& import, QWidget* parent = nullptr);

    // The whole flow for one file: read it (a file that cannot be imported is explained through
    // the prompt seam), show the dialog, save into the current directory (the profile root).
    // True when a profile was written; *newDirName (may be null) then names its directory.
    static bool importFile(QWidget* parent, const QString& path, QString* newDirName);

    // The first local file among dropped data that looks like an OpenVPN client file
    // (".ovpn" or ".conf"), or an empty string.
    static QString importablePath(const QMimeData* data);

    // The file dialog's filter, for the menu entries that ask for a file.
    static QString fileFilter();

    const QString& profileDirName() const { return m_profileDirName; }

private Q_SLOTS:
    void saveSlot();

private:
    bool preparePkcs12();

    OvpnImport m_import;
    QString m_profileDirName;
    QLineEdit* m_nameEdit = nullptr;
    QLineEdit* m_passwordEdit = nullptr;
    QLineEdit* m_repeatEdit = nullptr;
    QLineEdit* m_passphraseEdit = nullptr;
    QLineEdit* m_keyLabelEdit = nullptr;
    QTreeWidget* m_reportView = nullptr;
    QPushButton* m_saveButton = nullptr;
    QPushButton* m_cancelButton = nullptr;
};
