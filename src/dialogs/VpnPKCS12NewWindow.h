#pragma once

#include "ProfileDialog.h"

// The wizard for a new profile whose credentials are one PKCS#12 file, referred to by its path.
class VpnPKCS12NewWindow : public Pkcs12Dialog
{
    Q_OBJECT

public:
    explicit VpnPKCS12NewWindow(QWidget* parent = nullptr);
};
