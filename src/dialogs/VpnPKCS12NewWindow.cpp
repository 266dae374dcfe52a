#include "VpnPKCS12NewWindow.h"

VpnPKCS12NewWindow::VpnPKCS12NewWindow(QWidget* parent)
    : Pkcs12Dialog(nullptr,
                   {tr("New connection wizard"), tr("&Save"), tr("Can&cel"), tr("VPN conncetion name"),
                    tr("Connection name<sup>*</sup>"), tr("VPN server"),
                    tr("VPN server name or IP address<sup>*</sup>"), tr("Select")},
                   {tr("Connection template file"), tr("Select connection template file"), tr("Select file")},
                   {tr("PKCS#12 certificate"), tr("PKCS#12 certificate file<sup>*</sup>"),
                    tr("Select PKCS#12 certificate file")},
                   parent)
{
}
