#pragma once

#include <QByteArray>
#include <QDateTime>

#include <openssl/x509.h>

#include <memory>

// Certificates made on the spot, signed by one throw-away key, for the cases that need exact
// validity dates.
struct FreeCert
{
    void operator()(X509* cert) const { X509_free(cert); }
};
using Cert = std::unique_ptr<X509, FreeCert>;

EVP_PKEY* testKey();

// Valid from `notBefore` to `notAfter` (UTC, whole seconds).
Cert makeCertificate(const QByteArray& subjectCn, const QByteArray& issuerCn, const QDateTime& notBefore,
                     const QDateTime& notAfter);
QByteArray pem(const Cert& cert);
QByteArray der(const Cert& cert);
// certificateNid -1 keeps the certificate outside the password's encryption; 0 is the default,
// which encrypts it as most tools do.
QByteArray pkcs12(const Cert& cert, int certificateNid, const char* password = "secret",
                  const Cert* ca = nullptr);
