#include "VpnPKCS12NewWindow.h"

#include "DialogParts.h"
#include "profiles/ProfileSave.h"

#include <QCoreApplication>
#include <QGridLayout>
#include <QGroupBox>
#include <QLineEdit>
#include <QPushButton>

using namespace DialogParts;

VpnPKCS12NewWindow::VpnPKCS12NewWindow(QWidget* parent) : QDialog(parent)
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

    QGroupBox* pkcs12Group = addGroup(content, 2, 1, "pkcs12Group", tr("PKCS#12 certificate"));
    m_pkcs12Edit =
        addField(pkcs12Group, 0, 3, "pkcs12Label", tr("PKCS#12 certificate file<sup>*</sup>"), "pkcs12Edit");
    m_pkcs12Button =
        addSelectButton(pkcs12Group, 1, "pkcs12Button", tr("Select"), tr("Select PKCS#12 certificate file"));

    alignCaptions(this);

    connect(m_templateButton, &QPushButton::clicked, this, &VpnPKCS12NewWindow::templateBrowseSlot);
    connect(m_pkcs12Button, &QPushButton::clicked, this, &VpnPKCS12NewWindow::pkcs12BrowseSlot);
    connect(m_cancelButton, &QPushButton::clicked, this, &QDialog::reject);
    connect(m_saveButton, &QPushButton::clicked, this, &VpnPKCS12NewWindow::saveSlot);
}

void VpnPKCS12NewWindow::templateBrowseSlot()
{
    browse(this, tr("Select file"), QString(), m_templateEdit, &m_templateContents);
}

void VpnPKCS12NewWindow::pkcs12BrowseSlot()
{
    // Only the path goes into the profile; the file itself stays where the user keeps it.
    browse(this, QCoreApplication::translate("QObject", "Select PKCS#12 certificate file"),
           QCoreApplication::translate("QObject", "PKCS#12 certificate files (*.p12);;All files (*)"),
           m_pkcs12Edit);
}

void VpnPKCS12NewWindow::saveSlot()
{
    ProfileFields fields;
    fields.name = m_nameEdit->text();
    fields.server = m_serverEdit->text();
    fields.pkcs12Field = m_pkcs12Edit->text();
    fields.templateContents = m_templateContents;
    DialogParts::saveFromDialog(this, "VpnPKCS12NewWindow", ProfileKind::Pkcs12, fields, QString(),
                                &m_profileDirName);
}
