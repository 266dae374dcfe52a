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
    const QCommandLineOption importOption(QStringLiteral("import"), QString(), QStringLiteral("FILE"));
    parser.addOption(importOption);
    if (!parser.parse(arguments))
        return invalid(parser.errorText());

    QStringList files = parser.values(importOption) + parser.positionalArguments();
    if (files.isEmpty())
        return Request();
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
    return request;
}

} // namespace CommandLine
