#pragma once

#include <QDateTime>
#include <QList>
#include <QString>

// What a user can check about a certificate without the key: who it names, who signed it and
// when it is valid. Read with OpenSSL; nothing here needs a password.
struct CertificateInfo
{
    QString subject; // one line in the certificate's order: "C=PL, O=Example, CN=client"
    QString issuer;
    QString commonName;  // the subject's CN, or empty
    QDateTime notBefore; // UTC
    QDateTime notAfter;  // UTC

    bool isNull() const { return !notAfter.isValid(); }

    // Whole days left, counted down to the second: negative once expired, 0 on the last day.
    qint64 daysUntilExpiry(const QDateTime& now) const;

    // Every certificate in PEM text (a CA file may hold a chain), or the one DER certificate.
    static QList<CertificateInfo> fromData(const QByteArray& data);
    static QList<CertificateInfo> fromFile(const QString& path);

    // Only the certificates a PKCS#12 file keeps outside its password-encrypted parts. Most files
    // encrypt their certificates too, and then this is empty: the file's MAC is not checked either,
    // so what it returns is for display only. `isPkcs12` tells an encrypted file from no PKCS#12 at all.
    static QList<CertificateInfo> fromPkcs12File(const QString& path, bool* isPkcs12 = nullptr);
    // With the file's password: its own certificate first, then the chain it carries; empty when
    // the password does not open it.
    static QList<CertificateInfo> fromPkcs12FileWithPassword(const QString& path, const QString& password);
};

enum class ExpiryState { Fine, ExpiresSoon, Expired };

// How close to its end a certificate must be before a connect warns about it.
constexpr int kExpiryWarningDays = 14;

ExpiryState expiryState(const QDateTime& notAfter, const QDateTime& now);

// The text a connect shows for `certificate` (named by `fileName`): a warning within
// kExpiryWarningDays of its end, the reason it fails once expired, empty when it is fine.
QString expiryWarning(const CertificateInfo& certificate, const QString& fileName, const QDateTime& now);
