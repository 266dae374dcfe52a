#pragma once

#include "log.h"

#include <string>

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
