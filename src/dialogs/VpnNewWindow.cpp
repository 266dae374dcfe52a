#include "VpnNewWindow.h"

VpnNewWindow::VpnNewWindow(QWidget* parent)
    : CertificateDialog(
          nullptr,
          {tr("New connection wizard"), tr("&Save"), tr("Can&cel"), tr("VPN conncetion name"),
           tr("Connection name<sup>*</sup>"), tr("VPN server"),
           tr("VPN server name or IP address<sup>*</sup>"), tr("Select")},
          {tr("Connection template file"), tr("Select connection template file"), tr("Select file")},
          {tr("Certificates and key"), tr("CA certificate<sup>*</sup>"), tr("Select CA certificate"),
           tr("User certificate<sup>*</sup>"), tr("Select user certificate"), tr("Key name<sup>*</sup>"),
           tr("Select key file"), tr("Select private key file"), tr("Key files (*.key);;All files (*)")},
          parent)
{
}
