#include "ProfileSave.h"

#include "app/Prompt.h"

#include <QCoreApplication>
#include <QDialog>
#include <QFile>
#include <QRandomGenerator>
#include <QSaveFile>
#include <QSet>

#include <memory>
#include <vector>

namespace ProfileSave {

const char* const missingDataTitle = "Missing data";
const char* const refusedTitle = "Invalid data";
const char* const errorTitle = "Error";
const char* const errorText = "VPN connection could not be saved:\n%1";
const char* const defaultPort = "1194";
const char* const templateMarker = "\n#\n# configuration template\n#\n\n";

namespace {

const char* const nameMissing = "Enter VPN connection name!";
const char* const serverMissing = "Enter VPN server name or IP address!";
const char* const caMissing = "Select CA certificate file!";
const char* const userMissing = "Select User certificate file!";
const char* const keyMissing = "Select private key file!";
const char* const pkcs12Missing = "Select PKCS#12 certificate file!";

const char* const nameRefused = "VPN connection name must not contain line breaks!";
const char* const serverRefused = "VPN server name must not contain line breaks!";
const char* const keyRefused = "Private key name must not contain line breaks!";
const char* const pkcs12Refused = "PKCS#12 certificate file path must not contain line breaks!";

// Each dialog shows these in its own translation context; listed here so lupdate finds them.
[[maybe_unused]] const char* const translatedTexts[] = {
    QT_TRANSLATE_NOOP("VpnNewWindow", "Missing data"),
    QT_TRANSLATE_NOOP("VpnNewWindow", "Enter VPN connection name!"),
    QT_TRANSLATE_NOOP("VpnNewWindow", "Enter VPN server name or IP address!"),
    QT_TRANSLATE_NOOP("VpnNewWindow", "Select CA certificate file!"),
    QT_TRANSLATE_NOOP("VpnNewWindow", "Select User certificate file!"),
    QT_TRANSLATE_NOOP("VpnNewWindow", "Select private key file!"),
    QT_TRANSLATE_NOOP("VpnNewWindow", "Invalid data"),
    QT_TRANSLATE_NOOP("VpnNewWindow", "VPN connection name must not contain line breaks!"),
    QT_TRANSLATE_NOOP("VpnNewWindow", "VPN server name must not contain line breaks!"),
    QT_TRANSLATE_NOOP("VpnNewWindow", "Private key name must not contain line breaks!"),
    QT_TRANSLATE_NOOP("VpnNewWindow", "Error"),
    QT_TRANSLATE_NOOP("VpnNewWindow", "VPN connection could not be saved:\n%1"),

    QT_TRANSLATE_NOOP("VpnEditWindow", "Missing data"),
    QT_TRANSLATE_NOOP("VpnEditWindow", "Enter VPN connection name!"),
    QT_TRANSLATE_NOOP("VpnEditWindow", "Enter VPN server name or IP address!"),
    QT_TRANSLATE_NOOP("VpnEditWindow", "Select CA certificate file!"),
    QT_TRANSLATE_NOOP("VpnEditWindow", "Select User certificate file!"),
    QT_TRANSLATE_NOOP("VpnEditWindow", "Select private key file!"),
    QT_TRANSLATE_NOOP("VpnEditWindow", "Invalid data"),
    QT_TRANSLATE_NOOP("VpnEditWindow", "VPN connection name must not contain line breaks!"),
    QT_TRANSLATE_NOOP("VpnEditWindow", "VPN server name must not contain line breaks!"),
    QT_TRANSLATE_NOOP("VpnEditWindow", "Private key name must not contain line breaks!"),
    QT_TRANSLATE_NOOP("VpnEditWindow", "Error"),
    QT_TRANSLATE_NOOP("VpnEditWindow", "VPN connection could not be saved:\n%1"),

    QT_TRANSLATE_NOOP("VpnPKCS12NewWindow", "Missing data"),
    QT_TRANSLATE_NOOP("VpnPKCS12NewWindow", "Enter VPN connection name!"),
    QT_TRANSLATE_NOOP("VpnPKCS12NewWindow", "Enter VPN server name or IP address!"),
    QT_TRANSLATE_NOOP("VpnPKCS12NewWindow", "Select PKCS#12 certificate file!"),
    QT_TRANSLATE_NOOP("VpnPKCS12NewWindow", "Invalid data"),
    QT_TRANSLATE_NOOP("VpnPKCS12NewWindow", "VPN connection name must not contain line breaks!"),
    QT_TRANSLATE_NOOP("VpnPKCS12NewWindow", "VPN server name must not contain line breaks!"),
    QT_TRANSLATE_NOOP("VpnPKCS12NewWindow", "PKCS#12 certificate file path must not contain line breaks!"),
    QT_TRANSLATE_NOOP("VpnPKCS12NewWindow", "Error"),
    QT_TRANSLATE_NOOP("VpnPKCS12NewWindow", "VPN connection could not be saved:\n%1"),

    QT_TRANSLATE_NOOP("VpnPKCS12EditWindow", "Missing data"),
    QT_TRANSLATE_NOOP("VpnPKCS12EditWindow", "Enter VPN connection name!"),
    QT_TRANSLATE_NOOP("VpnPKCS12EditWindow", "Enter VPN server name or IP address!"),
    QT_TRANSLATE_NOOP("VpnPKCS12EditWindow", "Select PKCS#12 certificate file!"),
    QT_TRANSLATE_NOOP("VpnPKCS12EditWindow", "Invalid data"),
    QT_TRANSLATE_NOOP("VpnPKCS12EditWindow", "VPN connection name must not contain line breaks!"),
    QT_TRANSLATE_NOOP("VpnPKCS12EditWindow", "VPN server name must not contain line breaks!"),
    QT_TRANSLATE_NOOP("VpnPKCS12EditWindow", "PKCS#12 certificate file path must not contain line breaks!"),
    QT_TRANSLATE_NOOP("VpnPKCS12EditWindow", "Error"),
    QT_TRANSLATE_NOOP("VpnPKCS12EditWindow", "VPN connection could not be saved:\n%1"),
};

const char* const certHeader =
    "#\n# qLumarVpnName %1\n#\nremote %2\nrport %3\nca ca\ncert user\nkey \"%4\"\n";
const char* const pkcs12Header = "#\n# qLumarVpnName %1\n#\nremote %2\nrport %3\npkcs12 %4\n";

bool hasLineBreak(const QString& value)
{
    return value.contains(QLatin1Char('\n')) || value.contains(QLatin1Char('\r'));
}

SaveResult outcome(SaveResult::Status status, const char* message = nullptr)
{
    SaveResult result;
    result.status = status;
    result.message = message;
    return result;
}

SaveResult failure(const QString& reason)
{
    SaveResult result;
    result.status = SaveResult::Failed;
    result.reason = reason;
    return result;
}

struct FileToWrite
{
    QString name;
    QByteArray bytes;
};

// Writes every file to a temporary sibling first and renames them into place only when all of
// them were written, so a failure leaves each old file as it was.
bool writeFiles(const QString& dirPath, const std::vector<FileToWrite>& files, QString* reason)
{
    std::vector<std::unique_ptr<QSaveFile>> pending;
    for (const FileToWrite& file : files) {
        auto out = std::make_unique<QSaveFile>(dirPath + QLatin1Char('/') + file.name);
        if (!out->open(QIODevice::WriteOnly) || out->write(file.bytes) != file.bytes.size()) {
            *reason = out->fileName() + QLatin1String(": ") + out->errorString();
            return false; // the destructors throw the temporary files away
        }
        pending.push_back(std::move(out));
    }
    for (auto& out : pending) {
        if (!out->commit()) {
            *reason = out->fileName() + QLatin1String(": ") + out->errorString();
            return false;
        }
    }
    return true;
}

std::vector<FileToWrite> profileFiles(ProfileKind kind, const ProfileFields& fields, const QByteArray& tail)
{
    std::vector<FileToWrite> files;
    files.push_back({QStringLiteral("conf"), headerText(kind, fields) + tail});
    if (kind == ProfileKind::CertificateAndKey) {
        files.push_back({QStringLiteral("ca"), fields.caContents});
        files.push_back({QStringLiteral("user"), fields.userContents});
    }
    return files;
}

QString cannotCreate(const QString& path)
{
    return QCoreApplication::translate("ProfileSave", "cannot create the directory %1").arg(path);
}

// A new profile is assembled in a hidden directory (never listed as a profile) and renamed to its
// final name at the end, so the list never shows a half-written profile.
SaveResult saveNew(ProfileKind kind, const ProfileFields& fields, const QString& rootPath)
{
    QDir root(rootPath);
    QString staging;
    for (int attempt = 0; attempt < 16 && staging.isEmpty(); ++attempt) {
        const QString candidate =
            QStringLiteral(".new-%1").arg(QRandomGenerator::global()->generate(), 8, 16, QLatin1Char('0'));
        if (!root.exists(candidate) && root.mkdir(candidate))
            staging = candidate;
    }
    if (staging.isEmpty())
        return failure(cannotCreate(rootPath + QLatin1String("/.new-*")));

    QString reason;
    const QByteArray tail = QByteArray(templateMarker) + fields.templateContents;
    if (!writeFiles(root.filePath(staging), profileFiles(kind, fields, tail), &reason)) {
        QDir(root.filePath(staging)).removeRecursively();
        return failure(reason);
    }
    const QString dirName = newProfileDirName(rootPath);
    if (!root.rename(staging, dirName)) {
        QDir(root.filePath(staging)).removeRecursively();
        return failure(cannotCreate(root.filePath(dirName)));
    }
    SaveResult result = outcome(SaveResult::Saved);
    result.dirName = dirName;
    return result;
}

SaveResult saveEdit(ProfileKind kind, const ProfileFields& fields, const QString& dirName,
                    const QString& rootPath)
{
    const QString dirPath = rootPath + QLatin1Char('/') + dirName;
    QFile oldConf(dirPath + QLatin1String("/conf"));
    QByteArray oldBytes;
    if (oldConf.open(QIODevice::ReadOnly))
        oldBytes = oldConf.readAll();
    else if (oldConf.exists())
        return failure(oldConf.fileName() + QLatin1String(": ") + oldConf.errorString());

    QString reason;
    if (!writeFiles(dirPath, profileFiles(kind, fields, keptTemplate(oldBytes)), &reason))
        return failure(reason);
    // Leftovers of an older file layout.
    if (kind == ProfileKind::CertificateAndKey) {
        QFile::remove(dirPath + QLatin1String("/ca.cert"));
        QFile::remove(dirPath + QLatin1String("/user.cert"));
    }
    SaveResult result = outcome(SaveResult::Saved);
    result.dirName = dirName;
    return result;
}

} // namespace

QString newProfileDirName(const QString& rootPath)
{
    QSet<qlonglong> used;
    const QStringList names = QDir(rootPath).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    for (const QString& name : names) {
        bool ok = false;
        const qlonglong number = name.toLongLong(&ok, 16);
        if (ok && number >= 0)
            used.insert(number);
    }
    qlonglong number = 0;
    while (used.contains(number))
        ++number;
    return QString::number(number, 16).rightJustified(4, QLatin1Char('0'));
}

void splitServer(const QString& server, QString* host, QString* port)
{
    QStringList pieces = server.split(QLatin1Char(':'));
    if (pieces.size() == 1)
        pieces.append(QLatin1String(defaultPort));
    *host = pieces.at(0);
    *port = pieces.at(1);
}

QByteArray headerText(ProfileKind kind, const ProfileFields& fields)
{
    QString host;
    QString port;
    splitServer(fields.server, &host, &port);
    // One pass over the markers: a '%2' typed into the name must stay as typed.
    if (kind == ProfileKind::CertificateAndKey)
        return QString::fromLatin1(certHeader).arg(fields.name, host, port, fields.keyField).toUtf8();
    return QString::fromLatin1(pkcs12Header).arg(fields.name, host, port, fields.pkcs12Field).toUtf8();
}

QByteArray keptTemplate(const QByteArray& oldConf)
{
    const qsizetype at = oldConf.indexOf(templateMarker);
    return at < 0 ? QByteArray() : oldConf.mid(at);
}

SaveResult check(ProfileKind kind, const ProfileFields& fields)
{
    const bool cert = kind == ProfileKind::CertificateAndKey;
    if (fields.name.isEmpty())
        return outcome(SaveResult::MissingData, nameMissing);
    if (fields.server.isEmpty())
        return outcome(SaveResult::MissingData, serverMissing);
    if (cert) {
        if (fields.caField.isEmpty())
            return outcome(SaveResult::MissingData, caMissing);
        if (fields.userField.isEmpty())
            return outcome(SaveResult::MissingData, userMissing);
        if (fields.keyField.isEmpty())
            return outcome(SaveResult::MissingData, keyMissing);
    } else if (fields.pkcs12Field.isEmpty()) {
        return outcome(SaveResult::MissingData, pkcs12Missing);
    }

    // "conf" is the engine's configuration: a line break in a value would start a directive of
    // the user's choosing.
    if (hasLineBreak(fields.name))
        return outcome(SaveResult::Refused, nameRefused);
    if (hasLineBreak(fields.server))
        return outcome(SaveResult::Refused, serverRefused);
    if (cert && hasLineBreak(fields.keyField))
        return outcome(SaveResult::Refused, keyRefused);
    if (!cert && hasLineBreak(fields.pkcs12Field))
        return outcome(SaveResult::Refused, pkcs12Refused);
    return outcome(SaveResult::Saved);
}

SaveResult save(ProfileKind kind, const ProfileFields& fields, const QString& editDirName,
                const QString& rootPath)
{
    SaveResult checked = check(kind, fields);
    if (checked.status != SaveResult::Saved)
        return checked;
    if (editDirName.isEmpty())
        return saveNew(kind, fields, rootPath);
    return saveEdit(kind, fields, editDirName, rootPath);
}

bool saveFromDialog(QDialog* dialog, const char* trContext, ProfileKind kind, const ProfileFields& fields,
                    const QString& editDirName, QString* newDirName)
{
    auto tr = [trContext](const char* text) { return QCoreApplication::translate(trContext, text); };
    const SaveResult result = save(kind, fields, editDirName, QDir::currentPath());
    switch (result.status) {
    case SaveResult::Saved:
        if (newDirName)
            *newDirName = result.dirName;
        dialog->accept();
        return true;
    case SaveResult::MissingData:
        Prompt::message(dialog, QMessageBox::Information, tr(missingDataTitle), tr(result.message),
                        QMessageBox::Ok);
        return false;
    case SaveResult::Refused:
        Prompt::message(dialog, QMessageBox::Warning, tr(refusedTitle), tr(result.message), QMessageBox::Ok);
        return false;
    case SaveResult::Failed:
        Prompt::message(dialog, QMessageBox::Critical, tr(errorTitle), tr(errorText).arg(result.reason),
                        QMessageBox::Ok);
        return false;
    }
    return false;
}

} // namespace ProfileSave
