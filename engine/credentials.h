#pragma once

#include "log.h"

#include <string>
#include <vector>

// A wrong password or PIN is reported differently from every other failure: the manager recognises
// it and asks the user again instead of showing an error.
enum class KeyCheck {
    Ok,
    WrongSecret,
    Failed,
};

inline constexpr const char* kWrongSecretMessage = "Error: private key password verification failed";

// Opens the PKCS#12 file with the password and makes sure it holds a usable private key.
KeyCheck checkPkcs12(const std::string& path, const std::string& password, Logger& log);

// Logs in to the PKCS#11 token with the user PIN and looks for the private key labelled keyLabel.
// The module comes from QLUMAR_PKCS11_MODULE; QLUMAR_PKCS11_TOKEN_LABEL picks a token by label.
KeyCheck checkTokenKey(const std::string& keyLabel, const std::string& pin, Logger& log);

// The certificates (DER) in the token that belong to the key labelled keyLabel, found without logging in:
// a certificate shares its CKA_ID with its key pair, and tokens keep certificates and public keys
// readable. Same module and token choice as checkTokenKey. False, after a fatal line saying why, when
// the module or the token cannot be used; true with no certificates when none was found.
bool findTokenCertificates(const std::string& keyLabel, std::vector<std::string>* ders, Logger& log);

// The certificate file a profile names (PEM or DER) as DER; empty when it cannot be read.
std::string certificateDer(const std::string& path);

// Why the token refuses any PIN now (its PIN is locked, or has expired and must be changed first), as a
// line for the log; empty when it would take the right PIN or cannot be asked. A locked token is no
// wrong PIN: asking the user again could not help.
std::string tokenPinProblem();
