#pragma once

#include "ProfileDialog.h"

// The wizard for a new profile whose credentials are a CA certificate, a user certificate and
// the name of a key held by the token.
class VpnNewWindow : public CertificateDialog
{
    Q_OBJECT

public:
    explicit VpnNewWindow(QWidget* parent = nullptr);
};
