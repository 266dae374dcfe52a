#include "VpnPKCS12EditWindow.h"

#include "DialogParts.h"
#include "profiles/ProfileSave.h"
#include "profiles/VpnItem.h"

#include <QCoreApplication>
#include <QGridLayout>
#include <QGroupBox>
#include <QLineEdit>
#include <QPushButton>

using namespace DialogParts;

VpnPKCS12EditWindow::VpnPKCS12EditWindow(VpnItem* item, QWidget* parent) : QDialog(parent), m_item(item)
{
    QGridLayout* content =
        buildFrame(this, tr("Connection setup"), tr("&Save"), tr("Ca&ncel"), &m_saveButton, &m_cancelButton);

    QGroupBox* nameGroup = addGroup(content, 0, 1, "nameGroup", tr("VPN conncetion name"));
    m_nameEdit = addField(nameGroup, 0, 1, "nameLabel", tr("Connection name<sup>*</sup>"), "nameEdit",
                          item->vpnName());

    QGroupBox* serverGroup = addGroup(content, 1, 1, "serverGroup", tr("VPN server"));
    m_serverEdit = addField(serverGroup, 0, 1, "serverLabel", tr("VPN server name or IP address<sup>*</sup>"),
                            "serverEdit", item->server() + QLatin1Char(':') + item->port());

    QGroupBox* pkcs12Group = addGroup(content, 2, 1, "pkcs12Group", tr("PKCS#12 certificate"));
    m_pkcs12Edit = addField(pkcs12Group, 0, 3, "pkcs12Label", tr("PKCS#12 certificate file<sup>*</sup>"),
                            "pkcs12Edit", item->pkcs12File());
    m_pkcs12Button =
        addSelectButton(pkcs12Group, 1, "pkcs12Button", tr("Select"), tr("Select PKCS#12 certificate file"));

    alignCaptions(this);

    connect(m_pkcs12Button, &QPushButton::clicked, this, &VpnPKCS12EditWindow::pkcs12BrowseSlot);
    connect(m_cancelButton, &QPushButton::clicked, this, &QDialog::reject);
    connect(m_saveButton, &QPushButton::clicked, this, &VpnPKCS12EditWindow::saveSlot);
}

void VpnPKCS12EditWindow::pkcs12BrowseSlot()
{
    browse(this, QCoreApplication::translate("QObject", "Select PKCS#12 certificate file"),
           QCoreApplication::translate("QObject", "PKCS#12 certificate files (*.p12);;All files (*)"),
           m_pkcs12Edit);
}

void VpnPKCS12EditWindow::saveSlot()
{
    ProfileFields fields;
    fields.name = m_nameEdit->text();
    fields.server = m_serverEdit->text();
    fields.pkcs12Field = m_pkcs12Edit->text();
    DialogParts::saveFromDialog(this, "VpnPKCS12EditWindow", ProfileKind::Pkcs12, fields, m_item->dirName(),
                                nullptr);
}
