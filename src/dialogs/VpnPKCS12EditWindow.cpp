#include "VpnPKCS12EditWindow.h"

VpnPKCS12EditWindow::VpnPKCS12EditWindow(VpnItem* item, QWidget* parent)
    : Pkcs12Dialog(item,
                   {tr("Connection setup"), tr("&Save"), tr("Ca&ncel"), tr("VPN conncetion name"),
                    tr("Connection name<sup>*</sup>"), tr("VPN server"),
                    tr("VPN server name or IP address<sup>*</sup>"), tr("Select")},
                   {},
                   {tr("PKCS#12 certificate"), tr("PKCS#12 certificate file<sup>*</sup>"),
                    tr("Select PKCS#12 certificate file")},
                   parent)
{
}
