#pragma once

#include "profiles/ProfileSave.h"

#include <QByteArray>
#include <QDialog>
#include <QString>

class QGridLayout;
class QGroupBox;
class QLineEdit;
class QPushButton;
class VpnItem;

// What the four profile dialogs share: the frame with Save and Cancel, the name group (with the
// template rows in a wizard for a new profile), the server group and the save flow. The kind of
// profile adds its own group below (CertificateDialog, Pkcs12Dialog); the dialogs themselves only
// name their texts.
//
// Every text arrives translated: each dialog looks its texts up in the context of its own class,
// so the shared code never calls tr() itself.
class ProfileDialog : public QDialog
{
    Q_OBJECT

public:
    // The directory the last successful save chose; empty before.
    const QString& profileDirName() const { return m_profileDirName; }
    const QByteArray& templateContents() const { return m_templateContents; }

protected:
    // The template rows of a wizard for a new profile.
    struct TemplateTexts
    {
        QString label;
        QString selectName;
        QString caption;
    };

    struct Texts
    {
        QString title;
        QString save;
        QString cancel;
        QString nameGroup;
        QString name;
        QString serverGroup;
        QString server;
        QString select; // the text of every Select button
    };

    // A null item makes a wizard for a new profile, with the template rows; otherwise the dialog
    // edits that profile, whose record belongs to the main window's list and must outlive the
    // dialog, and templateRows goes unused.
    ProfileDialog(ProfileKind kind, VpnItem* item, const Texts& texts, const TemplateTexts& templateRows,
                  QWidget* parent);

    VpnItem* item() const { return m_item; }
    const QString& selectText() const { return m_selectText; }
    // Row 2 of the content, under the server group: the group of the kind's own fields.
    QGroupBox* addOwnGroup(const char* name, const QString& title);
    // The fields of the kind's own group, for the save.
    virtual void fillOwnFields(ProfileFields* fields) const = 0;

protected Q_SLOTS:
    void templateBrowseSlot();
    void saveSlot();

private:
    ProfileKind m_kind;
    VpnItem* m_item = nullptr;
    QString m_selectText;
    QString m_templateCaption;
    QString m_profileDirName;
    QGridLayout* m_content = nullptr;
    QLineEdit* m_nameEdit = nullptr;
    QLineEdit* m_templateEdit = nullptr;
    QByteArray m_templateContents;
    QPushButton* m_templateButton = nullptr;
    QLineEdit* m_serverEdit = nullptr;
    QPushButton* m_cancelButton = nullptr;
    QPushButton* m_saveButton = nullptr;
};

// Credentials as a CA certificate, a user certificate and the name of a key held by the token.
class CertificateDialog : public ProfileDialog
{
    Q_OBJECT

public:
    const QByteArray& caContents() const { return m_caContents; }
    const QByteArray& userCertContents() const { return m_userCertContents; }

protected:
    struct CertificateTexts
    {
        QString group;
        QString ca;
        QString caSelectName;
        QString user;
        QString userSelectName;
        QString key;
        QString keySelectName;
        QString keyCaption;
        QString keyFilter;
    };

    CertificateDialog(VpnItem* item, const Texts& texts, const TemplateTexts& templateRows,
                      const CertificateTexts& own, QWidget* parent);
    void fillOwnFields(ProfileFields* fields) const override;

private Q_SLOTS:
    void caCertBrowseSlot();
    void userCertBrowseSlot();
    void qLumarKeyBrowseSlot();

private:
    QString m_keyCaption;
    QString m_keyFilter;
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
};

// Credentials as one PKCS#12 file, referred to by its path.
class Pkcs12Dialog : public ProfileDialog
{
    Q_OBJECT

protected:
    struct Pkcs12Texts
    {
        QString group;
        QString file;
        QString selectName;
    };

    Pkcs12Dialog(VpnItem* item, const Texts& texts, const TemplateTexts& templateRows, const Pkcs12Texts& own,
                 QWidget* parent);
    void fillOwnFields(ProfileFields* fields) const override;

private Q_SLOTS:
    void pkcs12BrowseSlot();

private:
    QLineEdit* m_pkcs12Edit = nullptr;
    QPushButton* m_pkcs12Button = nullptr;
};
