#include "CommandLine.h"

#include <QCommandLineParser>
#include <QDir>
#include <QRegularExpression>
#include <QUrl>

namespace CommandLine {

namespace {

Request invalid(const QString& error)
{
    Request request;
    request.action = Request::Invalid;
    request.error = error;
    return request;
}

} // namespace

Request parse(const QStringList& arguments, const QString& workingDir)
{
    QCommandLineParser parser;
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    parser.setApplicationDescription(
        QStringLiteral("VPN connection manager in the system tray. A second start hands its request to "
                       "the manager already running for this user and ends."));
    const QCommandLineOption helpOption({QStringLiteral("h"), QStringLiteral("help")},
                                        QStringLiteral("Show this help and end."));
    parser.addOption(helpOption);
    const QCommandLineOption importOption(QStringLiteral("import"),
                                          QStringLiteral("Import the OpenVPN client file FILE."),
                                          QStringLiteral("FILE"));
    parser.addOption(importOption);
    const QCommandLineOption connectOption(
        QStringLiteral("connect"),
        QStringLiteral("Connect the profile named NAME, as its Connect menu entry does (the password is "
                       "asked for)."),
        QStringLiteral("NAME"));
    parser.addOption(connectOption);
    const QCommandLineOption minimizedOption(
        QStringLiteral("minimized"),
        QStringLiteral("Start hidden in the system tray; without a tray, wait up to 30 seconds for one "
                       "before showing the window."));
    parser.addOption(minimizedOption);
    parser.addPositionalArgument(QStringLiteral("FILE"),
                                 QStringLiteral("An OpenVPN client file or file:// URL to import."),
                                 QStringLiteral("[FILE]"));
    if (!parser.parse(arguments))
        return invalid(parser.errorText());
    if (parser.isSet(helpOption)) {
        Request request;
        request.action = Request::Help;
        request.text = parser.helpText();
        return request;
    }

    QStringList files = parser.values(importOption) + parser.positionalArguments();
    const QStringList names = parser.values(connectOption);
    if (!names.isEmpty()) {
        if (!files.isEmpty())
            return invalid(QStringLiteral("--connect cannot be combined with a file to import."));
        if (names.size() > 1)
            return invalid(QStringLiteral("Only one connection can be connected at a time."));
        if (names.first().trimmed().isEmpty())
            return invalid(QStringLiteral("Missing value after '--connect'."));
        Request request;
        request.action = Request::Connect;
        request.connectName = names.first();
        request.minimized = parser.isSet(minimizedOption);
        return request;
    }
    if (files.isEmpty()) {
        Request request;
        request.minimized = parser.isSet(minimizedOption);
        return request;
    }
    if (files.size() > 1)
        return invalid(QStringLiteral("Only one file can be imported at a time: %1")
                           .arg(files.join(QLatin1String(", "))));

    QString file = files.first();
    // Downloading is the caller's business; a URL that is not a local file is refused here.
    static const QRegularExpression scheme(QStringLiteral("^[A-Za-z][A-Za-z0-9+.-]+:"));
    if (scheme.match(file).hasMatch()) {
        const QUrl url(file);
        if (!url.isLocalFile())
            return invalid(QStringLiteral("Not a local file: %1").arg(file));
        file = url.toLocalFile();
    }
    if (file.isEmpty())
        return invalid(QStringLiteral("Missing value after '--import'."));
    Request request;
    request.action = Request::Import;
    request.importPath = QDir::cleanPath(QDir(workingDir).absoluteFilePath(file));
    request.minimized = parser.isSet(minimizedOption);
    return request;
}

} // namespace CommandLine
