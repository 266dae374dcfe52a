#pragma once

#include "credentials.h"
#include "log.h"

#include <memory>
#include <string>

// Keeps a logged-in session with the token for as long as OpenVPN may ask for signatures: the key
// stays in the user's session, OpenVPN (run by the tunnel service) gets only signatures
// (--management-external-key). Module and token come from QLUMAR_PKCS11_MODULE and
// QLUMAR_PKCS11_TOKEN_LABEL, as for the other token functions.
class TokenSigner
{
public:
    TokenSigner();
    ~TokenSigner();

    // Logs in with the PIN and finds the private key labelled keyLabel; a wrong PIN is
    // KeyCheck::WrongSecret after the password error line, tried once only.
    KeyCheck open(const std::string& keyLabel, const std::string& pin, Logger& log);

    // Signs for OpenVPN's ">PK_SIGN:DATA,ALGORITHM": data is what OpenVPN sent (decoded), algorithm its
    // description ("RSA_PKCS1_PADDING", "RSA_PKCS1_PSS_PADDING,hashalg=SHA256,saltlen=digest", "ECDSA",
    // ...). An ECDSA signature comes back DER-encoded, as OpenVPN wants it.
    bool sign(const std::string& data, const std::string& algorithm, std::string* signature,
              std::string* error);

private:
    struct Impl;
    std::unique_ptr<Impl> m_impl;
};
