#pragma once

#include "ProfileDialog.h"

// Edits an existing PKCS#12 profile. The profile record belongs to the main window's list and
// must outlive the dialog.
class VpnPKCS12EditWindow : public Pkcs12Dialog
{
    Q_OBJECT

public:
    explicit VpnPKCS12EditWindow(VpnItem* item, QWidget* parent = nullptr);
};
