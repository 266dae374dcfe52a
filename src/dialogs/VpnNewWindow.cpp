#include "VpnNewWindow.h"

#include "DialogParts.h"
#include "profiles/ConfReader.h"
#include "profiles/ProfileSave.h"

#include <QCoreApplication>
#include <QGridLayout>
#include <QGroupBox>
#include <QLineEdit>
#include <QPushButton>

using namespace DialogParts;

VpnNewWindow::VpnNewWindow(QWidget* parent) : QDialog(parent)
{
    QGridLayout* content = buildFrame(this, tr("New connection wizard"), tr("&Save"), tr("Can&cel"),
                                      &m_saveButton, &m_cancelButton);

    QGroupBox* nameGroup = addGroup(content, 0, 1, "nameGroup", tr("VPN conncetion name"));
    m_nameEdit = addField(nameGroup, 0, 3, "nameLabel", tr("Connection name<sup>*</sup>"), "nameEdit");
    m_templateEdit =
        addField(nameGroup, 2, 3, "templateLabel", tr("Connection template file"), "templateEdit");
    m_templateButton =
        addSelectButton(nameGroup, 3, "templateButton", tr("Select"), tr("Select connection template file"));

    QGroupBox* serverGroup = addGroup(content, 1, 1, "serverGroup", tr("VPN server"));
    m_serverEdit = addField(serverGroup, 0, 1, "serverLabel", tr("VPN server name or IP address<sup>*</sup>"),
                            "serverEdit");

    QGroupBox* certGroup = addGroup(content, 2, 1, "certGroup", tr("Certificates and key"));
    m_caEdit = addField(certGroup, 0, 3, "caLabel", tr("CA certificate<sup>*</sup>"), "caEdit");
    m_caButton = addSelectButton(certGroup, 1, "caButton", tr("Select"), tr("Select CA certificate"));
    m_userEdit = addField(certGroup, 2, 3, "userLabel", tr("User certificate<sup>*</sup>"), "userEdit");
    m_userButton = addSelectButton(certGroup, 3, "userButton", tr("Select"), tr("Select user certificate"));
    m_keyEdit = addField(certGroup, 4, 3, "keyLabel", tr("Key name<sup>*</sup>"), "keyEdit");
    m_keyButton = addSelectButton(certGroup, 5, "keyButton", tr("Select"), tr("Select key file"));

    alignCaptions(this);

    connect(m_templateButton, &QPushButton::clicked, this, &VpnNewWindow::templateBrowseSlot);
    connect(m_caButton, &QPushButton::clicked, this, &VpnNewWindow::caCertBrowseSlot);
    connect(m_userButton, &QPushButton::clicked, this, &VpnNewWindow::userCertBrowseSlot);
    connect(m_keyButton, &QPushButton::clicked, this, &VpnNewWindow::qLumarKeyBrowseSlot);
    connect(m_cancelButton, &QPushButton::clicked, this, &QDialog::reject);
    connect(m_saveButton, &QPushButton::clicked, this, &VpnNewWindow::saveSlot);
}

void VpnNewWindow::templateBrowseSlot()
{
    browse(this, tr("Select file"), QString(), m_templateEdit, &m_templateContents, nullptr,
           ConfReader::confLimit);
}

void VpnNewWindow::caCertBrowseSlot()
{
    browseCertificate(this, m_caEdit, &m_caContents, &m_caReadFrom);
}

void VpnNewWindow::userCertBrowseSlot()
{
    browseCertificate(this, m_userEdit, &m_userCertContents, &m_userCertReadFrom);
}

void VpnNewWindow::qLumarKeyBrowseSlot()
{
    browse(this, tr("Select private key file"), tr("Key files (*.key);;All files (*)"), m_keyEdit);
}

void VpnNewWindow::saveSlot()
{
    ProfileFields fields;
    fields.name = m_nameEdit->text();
    fields.server = m_serverEdit->text();
    fields.caField = m_caEdit->text();
    fields.userField = m_userEdit->text();
    fields.keyField = m_keyEdit->text();
    fields.caContents = m_caContents;
    fields.userContents = m_userCertContents;
    fields.caReadFrom = m_caReadFrom;
    fields.userReadFrom = m_userCertReadFrom;
    fields.templateContents = m_templateContents;
    DialogParts::saveFromDialog(this, "VpnNewWindow", ProfileKind::CertificateAndKey, fields, QString(),
                                &m_profileDirName);
}
