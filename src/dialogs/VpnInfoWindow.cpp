#include "VpnInfoWindow.h"

#include "DialogParts.h"
#include "app/Pictures.h"
#include "profiles/CertificateInfo.h"
#include "profiles/VpnItem.h"

#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QGridLayout>
#include <QGroupBox>
#include <QIcon>
#include <QLabel>
#include <QLocale>
#include <QPushButton>

namespace {

void addRow(QGroupBox* group, int row, const QString& name, const QString& caption, const QString& value)
{
    auto* captionLabel = new QLabel(caption, group);
    captionLabel->setObjectName(name + QStringLiteral("Caption"));
    // Values are shown as stored: a name like "<b>x</b>" must not turn into markup.
    auto* valueLabel = new QLabel(value, group);
    valueLabel->setObjectName(name + QStringLiteral("Value"));
    valueLabel->setTextFormat(Qt::PlainText);
    DialogParts::groupGrid(group)->addWidget(captionLabel, row, 0);
    DialogParts::groupGrid(group)->addWidget(valueLabel, row, 1);
}

void addRow(QGroupBox* group, int row, const char* name, const QString& caption, const QString& value)
{
    addRow(group, row, QLatin1String(name), caption, value);
}

QString validity(const CertificateInfo& certificate)
{
    const QLocale locale;
    const QString from = locale.toString(certificate.notBefore.toLocalTime().date(), QLocale::ShortFormat);
    const QString to = locale.toString(certificate.notAfter.toLocalTime().date(), QLocale::ShortFormat);
    switch (expiryState(certificate.notAfter, QDateTime::currentDateTimeUtc())) {
    case ExpiryState::Expired:
        return VpnInfoWindow::tr("from %1 to %2 (expired)").arg(from, to);
    case ExpiryState::ExpiresSoon:
        return VpnInfoWindow::tr("from %1 to %2 (expires soon)").arg(from, to);
    case ExpiryState::Fine:
        break;
    }
    return VpnInfoWindow::tr("from %1 to %2").arg(from, to);
}

// Subject, issuer and validity of each certificate, below the rows the dialog always has; names
// run "<prefix><n>Subject" and so on. Returns the next free row.
int addCertificateRows(QGroupBox* group, int row, const QString& prefix,
                       const QList<CertificateInfo>& certificates)
{
    for (int i = 0; i < certificates.size(); ++i) {
        const CertificateInfo& certificate = certificates.at(i);
        const QString name = prefix + QString::number(i);
        addRow(group, row++, name + QStringLiteral("Subject"), VpnInfoWindow::tr("Subject:"),
               certificate.subject);
        addRow(group, row++, name + QStringLiteral("Issuer"), VpnInfoWindow::tr("Issuer:"),
               certificate.issuer);
        addRow(group, row++, name + QStringLiteral("Validity"), VpnInfoWindow::tr("Valid:"),
               validity(certificate));
    }
    return row;
}

// Relative certificate names are stored relative to the profile's directory.
QString profileFile(const VpnItem* item, const QString& name)
{
    if (name.isEmpty())
        return QString();
    return QDir(QFileInfo(item->confPath()).absolutePath()).absoluteFilePath(name);
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
        const QString path = profileFile(item, item->pkcs12File());
        bool isPkcs12 = false;
        const QList<CertificateInfo> certificates = CertificateInfo::fromPkcs12File(path, &isPkcs12);
        if (!certificates.isEmpty())
            addCertificateRows(pkcs12Group, 1, QStringLiteral("pkcs12Certificate"), certificates);
        else if (isPkcs12)
            addRow(pkcs12Group, 1, "pkcs12Certificates", tr("Certificates:"),
                   tr("encrypted with the file's password"));
    } else {
        QGroupBox* certGroup = DialogParts::addGroup(grid, 2, 3, "certGroup", tr("Certificates and key"));
        const QString dir = item->dirName() + QLatin1Char('/');
        addRow(certGroup, 0, "ca", tr("CA certificate:"), dir + item->caCert());
        addRow(certGroup, 1, "user", tr("User certificate:"), dir + item->userCert());
        addRow(certGroup, 2, "key", tr("Key file:"), item->keyName());
        int row = 3;
        row = addCertificateRows(certGroup, row, QStringLiteral("caCertificate"),
                                 CertificateInfo::fromFile(profileFile(item, item->caCert())));
        addCertificateRows(certGroup, row, QStringLiteral("userCertificate"),
                           CertificateInfo::fromFile(profileFile(item, item->userCert())));
    }

    DialogParts::alignCaptions(this);

    m_closeButton = new QPushButton(tr("&Close"), this);
    m_closeButton->setObjectName(QStringLiteral("closeButton"));
    grid->addWidget(m_closeButton, 5, 2);
    grid->setColumnStretch(0, 1);
    grid->setRowStretch(4, 1);
    connect(m_closeButton, &QPushButton::clicked, this, &QDialog::accept);
}
