#include "ProfileDialog.h"

#include "DialogParts.h"
#include "profiles/ConfReader.h"
#include "profiles/VpnItem.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QGridLayout>
#include <QGroupBox>
#include <QLineEdit>
#include <QPushButton>

using namespace DialogParts;

ProfileDialog::ProfileDialog(ProfileKind kind, VpnItem* item, const Texts& texts,
                             const TemplateTexts& templateRows, QWidget* parent)
    : QDialog(parent), m_kind(kind), m_item(item), m_selectText(texts.select),
      m_templateCaption(templateRows.caption)
{
    m_content = buildFrame(this, texts.title, texts.save, texts.cancel, &m_saveButton, &m_cancelButton);

    // A wizard's name field spans the columns of the template row below it.
    QGroupBox* nameGroup = addGroup(m_content, 0, 1, "nameGroup", texts.nameGroup);
    m_nameEdit = addField(nameGroup, 0, item ? 1 : 3, "nameLabel", texts.name, "nameEdit",
                          item ? item->vpnName() : QString());
    if (!item) {
        m_templateEdit = addField(nameGroup, 2, 3, "templateLabel", templateRows.label, "templateEdit");
        m_templateButton =
            addSelectButton(nameGroup, 3, "templateButton", texts.select, templateRows.selectName);
        connect(m_templateButton, &QPushButton::clicked, this, &ProfileDialog::templateBrowseSlot);
    }

    QGroupBox* serverGroup = addGroup(m_content, 1, 1, "serverGroup", texts.serverGroup);
    m_serverEdit = addField(serverGroup, 0, 1, "serverLabel", texts.server, "serverEdit",
                            item ? item->server() + QLatin1Char(':') + item->port() : QString());

    connect(m_cancelButton, &QPushButton::clicked, this, &QDialog::reject);
    connect(m_saveButton, &QPushButton::clicked, this, &ProfileDialog::saveSlot);
}

QGroupBox* ProfileDialog::addOwnGroup(const char* name, const QString& title)
{
    return addGroup(m_content, 2, 1, name, title);
}

void ProfileDialog::templateBrowseSlot()
{
    // A template is a configuration, so it takes the configuration's cap.
    browse(this, m_templateCaption, QString(), m_templateEdit, &m_templateContents, nullptr,
           ConfReader::confLimit);
}

void ProfileDialog::saveSlot()
{
    ProfileFields fields;
    fields.name = m_nameEdit->text();
    fields.server = m_serverEdit->text();
    fillOwnFields(&fields);
    fields.templateContents = m_templateContents;
    saveFromDialog(this, m_kind, fields, m_item ? m_item->dirName() : QString(), &m_profileDirName);
}

CertificateDialog::CertificateDialog(VpnItem* item, const Texts& texts, const TemplateTexts& templateRows,
                                     const CertificateTexts& own, QWidget* parent)
    : ProfileDialog(ProfileKind::CertificateAndKey, item, texts, templateRows, parent),
      m_keyCaption(own.keyCaption), m_keyFilter(own.keyFilter)
{
    QString caPath;
    QString userCertPath;
    if (item) {
        // Always the stored copies, whatever names the profile's "conf" lists: those are the files
        // the save writes back, so an edit without Select keeps the same certificates.
        caPath = item->dirName() + QStringLiteral("/ca");
        // A copy that is there but cannot be read (too large, no permission) must not be replaced
        // by nothing: the save then reads it again and says so.
        bool ok = false;
        m_caContents = readWholeFile(caPath, &ok);
        if (ok || !QFileInfo(caPath).isFile())
            m_caReadFrom = caPath;
        userCertPath = item->dirName() + QStringLiteral("/user");
        m_userCertContents = readWholeFile(userCertPath, &ok);
        if (ok || !QFileInfo(userCertPath).isFile())
            m_userCertReadFrom = userCertPath;
    }

    QGroupBox* group = addOwnGroup("certGroup", own.group);
    m_caEdit = addField(group, 0, 3, "caLabel", own.ca, "caEdit", caPath);
    m_caButton = addSelectButton(group, 1, "caButton", selectText(), own.caSelectName);
    m_userEdit = addField(group, 2, 3, "userLabel", own.user, "userEdit", userCertPath);
    m_userButton = addSelectButton(group, 3, "userButton", selectText(), own.userSelectName);
    m_keyEdit = addField(group, 4, 3, "keyLabel", own.key, "keyEdit", item ? item->keyName() : QString());
    m_keyButton = addSelectButton(group, 5, "keyButton", selectText(), own.keySelectName);
    alignCaptions(this);

    connect(m_caButton, &QPushButton::clicked, this, &CertificateDialog::caCertBrowseSlot);
    connect(m_userButton, &QPushButton::clicked, this, &CertificateDialog::userCertBrowseSlot);
    connect(m_keyButton, &QPushButton::clicked, this, &CertificateDialog::qLumarKeyBrowseSlot);
}

void CertificateDialog::fillOwnFields(ProfileFields* fields) const
{
    fields->caField = m_caEdit->text();
    fields->userField = m_userEdit->text();
    fields->keyField = m_keyEdit->text();
    fields->caContents = m_caContents;
    fields->userContents = m_userCertContents;
    fields->caReadFrom = m_caReadFrom;
    fields->userReadFrom = m_userCertReadFrom;
}

void CertificateDialog::caCertBrowseSlot()
{
    browseCertificate(this, m_caEdit, &m_caContents, &m_caReadFrom);
}

void CertificateDialog::userCertBrowseSlot()
{
    browseCertificate(this, m_userEdit, &m_userCertContents, &m_userCertReadFrom);
}

void CertificateDialog::qLumarKeyBrowseSlot()
{
    browse(this, m_keyCaption, m_keyFilter, m_keyEdit);
}

Pkcs12Dialog::Pkcs12Dialog(VpnItem* item, const Texts& texts, const TemplateTexts& templateRows,
                           const Pkcs12Texts& own, QWidget* parent)
    : ProfileDialog(item && item->isUserPasswordOnly() ? ProfileKind::UserPassword : ProfileKind::Pkcs12,
                    item, texts, templateRows, parent)
{
    // A profile that signs in with a username and password has no key material to edit: saving it
    // with a PKCS#12 file would make it another kind of profile.
    if (item && item->isUserPasswordOnly()) {
        alignCaptions(this);
        return;
    }
    QGroupBox* group = addOwnGroup("pkcs12Group", own.group);
    m_pkcs12Edit =
        addField(group, 0, 3, "pkcs12Label", own.file, "pkcs12Edit", item ? item->pkcs12File() : QString());
    m_pkcs12Button = addSelectButton(group, 1, "pkcs12Button", selectText(), own.selectName);
    alignCaptions(this);

    connect(m_pkcs12Button, &QPushButton::clicked, this, &Pkcs12Dialog::pkcs12BrowseSlot);
}

void Pkcs12Dialog::fillOwnFields(ProfileFields* fields) const
{
    if (m_pkcs12Edit)
        fields->pkcs12Field = m_pkcs12Edit->text();
}

void Pkcs12Dialog::pkcs12BrowseSlot()
{
    // Only the path goes into the profile; the file itself stays where the user keeps it.
    browse(this, QCoreApplication::translate("QObject", "Select PKCS#12 certificate file"),
           QCoreApplication::translate("QObject", "PKCS#12 certificate files (*.p12);;All files (*)"),
           m_pkcs12Edit);
}
