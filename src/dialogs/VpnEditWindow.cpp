#include "VpnEditWindow.h"

#include "DialogParts.h"
#include "profiles/ProfileSave.h"
#include "profiles/VpnItem.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QGridLayout>
#include <QGroupBox>
#include <QLineEdit>
#include <QPushButton>

using namespace DialogParts;

VpnEditWindow::VpnEditWindow(VpnItem* item, QWidget* parent) : QDialog(parent), m_item(item)
{
    // Always the stored copies, whatever names the profile's "conf" lists: those are the files
    // the save writes back, so an edit without Select keeps the same certificates.
    m_caPath = item->dirName() + QStringLiteral("/ca");
    // A copy that is there but cannot be read (too large, no permission) must not be replaced by
    // nothing: the save then reads it again and says so.
    bool ok = false;
    m_caContents = readWholeFile(m_caPath, &ok);
    if (ok || !QFileInfo(m_caPath).isFile())
        m_caReadFrom = m_caPath;
    m_userCertPath = item->dirName() + QStringLiteral("/user");
    m_userCertContents = readWholeFile(m_userCertPath, &ok);
    if (ok || !QFileInfo(m_userCertPath).isFile())
        m_userCertReadFrom = m_userCertPath;

    QGridLayout* content =
        buildFrame(this, tr("Connection setup"), tr("&Save"), tr("Ca&ncel"), &m_saveButton, &m_cancelButton);

    QGroupBox* nameGroup = addGroup(content, 0, 1, "nameGroup", tr("VPN conncetion name"));
    m_nameEdit = addField(nameGroup, 0, 1, "nameLabel", tr("Connection name<sup>*</sup>"), "nameEdit",
                          item->vpnName());

    QGroupBox* serverGroup = addGroup(content, 1, 1, "serverGroup", tr("VPN server"));
    m_serverEdit = addField(serverGroup, 0, 1, "serverLabel", tr("VPN server name or IP address<sup>*</sup>"),
                            "serverEdit", item->server() + QLatin1Char(':') + item->port());

    QGroupBox* certGroup = addGroup(content, 2, 1, "certGroup", tr("Certificates and key"));
    m_caEdit = addField(certGroup, 0, 3, "caLabel", tr("CA certificate<sup>*</sup>"), "caEdit", m_caPath);
    m_caButton = addSelectButton(certGroup, 1, "caButton", tr("Select"), tr("Select CA certificate"));
    m_userEdit = addField(certGroup, 2, 3, "userLabel", tr("User certificate<sup>*</sup>"), "userEdit",
                          m_userCertPath);
    m_userButton = addSelectButton(certGroup, 3, "userButton", tr("Select"), tr("Select user certificate"));
    m_keyEdit = addField(certGroup, 4, 3, "keyLabel", tr("Key name<sup>*</sup>"), "keyEdit", item->keyName());
    m_keyButton = addSelectButton(certGroup, 5, "keyButton", tr("Select"), tr("Select key file"));

    alignCaptions(this);

    connect(m_caButton, &QPushButton::clicked, this, &VpnEditWindow::caCertBrowseSlot);
    connect(m_userButton, &QPushButton::clicked, this, &VpnEditWindow::userCertBrowseSlot);
    connect(m_keyButton, &QPushButton::clicked, this, &VpnEditWindow::qLumarKeyBrowseSlot);
    connect(m_cancelButton, &QPushButton::clicked, this, &QDialog::reject);
    connect(m_saveButton, &QPushButton::clicked, this, &VpnEditWindow::saveSlot);
}

void VpnEditWindow::caCertBrowseSlot()
{
    browseCertificate(this, m_caEdit, &m_caContents, &m_caReadFrom);
}

void VpnEditWindow::userCertBrowseSlot()
{
    browseCertificate(this, m_userEdit, &m_userCertContents, &m_userCertReadFrom);
}

void VpnEditWindow::qLumarKeyBrowseSlot()
{
    browse(this, tr("Select private key file"), tr("Key files (*.key);;All files (*)"), m_keyEdit);
}

void VpnEditWindow::saveSlot()
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
    DialogParts::saveFromDialog(this, "VpnEditWindow", ProfileKind::CertificateAndKey, fields,
                                m_item->dirName(), nullptr);
}
