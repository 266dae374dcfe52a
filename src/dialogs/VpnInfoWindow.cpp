#include "VpnInfoWindow.h"

#include "DialogParts.h"
#include "app/Pictures.h"
#include "profiles/VpnItem.h"

#include <QGridLayout>
#include <QGroupBox>
#include <QIcon>
#include <QLabel>
#include <QPushButton>

namespace {

void addRow(QGroupBox* group, int row, const char* name, const QString& caption, const QString& value)
{
    auto* captionLabel = new QLabel(caption, group);
    captionLabel->setObjectName(QLatin1String(name) + QStringLiteral("Caption"));
    // Values are shown as stored: a name like "<b>x</b>" must not turn into markup.
    auto* valueLabel = new QLabel(value, group);
    valueLabel->setObjectName(QLatin1String(name) + QStringLiteral("Value"));
    valueLabel->setTextFormat(Qt::PlainText);
    DialogParts::groupGrid(group)->addWidget(captionLabel, row, 0);
    DialogParts::groupGrid(group)->addWidget(valueLabel, row, 1);
}

} // namespace

VpnInfoWindow::VpnInfoWindow(VpnItem* item, QWidget* parent) : QDialog(parent), m_item(item)
{
    setWindowTitle(tr("Connection details"));
    setWindowIcon(Pictures::icon(QStringLiteral(":img/vpn.png")));

    auto* grid = new QGridLayout(this);
    QGroupBox* nameGroup = DialogParts::addGroup(grid, 0, 3, "nameGroup", tr("VPN connection name"));
    addRow(nameGroup, 0, "name", tr("Connection name:"), item->vpnName());

    QGroupBox* serverGroup = DialogParts::addGroup(grid, 1, 3, "serverGroup", tr("VPN server"));
    addRow(serverGroup, 0, "server", tr("VPN server name or IP address:"),
           item->server() + QLatin1Char(':') + item->port());

    if (item->isPKCS12()) {
        QGroupBox* pkcs12Group = DialogParts::addGroup(grid, 2, 3, "pkcs12Group", tr("PKCS#12 certificate"));
        addRow(pkcs12Group, 0, "pkcs12", tr("PKCS#12 certificate file:"), item->pkcs12File());
    } else {
        QGroupBox* certGroup = DialogParts::addGroup(grid, 2, 3, "certGroup", tr("Certificates and key"));
        const QString dir = item->dirName() + QLatin1Char('/');
        addRow(certGroup, 0, "ca", tr("CA certificate:"), dir + item->caCert());
        addRow(certGroup, 1, "user", tr("User certificate:"), dir + item->userCert());
        addRow(certGroup, 2, "key", tr("Key file:"), item->keyName());
    }

    DialogParts::alignCaptions(this);

    m_closeButton = new QPushButton(tr("&Close"), this);
    m_closeButton->setObjectName(QStringLiteral("closeButton"));
    grid->addWidget(m_closeButton, 5, 2);
    grid->setColumnStretch(0, 1);
    grid->setRowStretch(4, 1);
    connect(m_closeButton, &QPushButton::clicked, this, &QDialog::accept);
}
