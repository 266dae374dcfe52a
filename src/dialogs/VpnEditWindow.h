#pragma once

#include "ProfileDialog.h"

// Edits an existing certificate-and-key profile. The profile record belongs to the main
// window's list and must outlive the dialog.
class VpnEditWindow : public CertificateDialog
{
    Q_OBJECT

public:
    explicit VpnEditWindow(VpnItem* item, QWidget* parent = nullptr);
};
