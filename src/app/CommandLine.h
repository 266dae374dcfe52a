#pragma once

#include <QString>
#include <QStringList>

// What the program was asked to do on its command line. Widget-free so that start-up can decide
// before any window exists (and before it moves into the profile root).
namespace CommandLine {

struct Request
{
    enum Action {
        Run,     // start, or bring the running instance forward (unless minimized)
        Import,  // importPath: an OpenVPN client file to import, absolute
        Connect, // connectName: the profile to connect, as its name shows in the list
        Help,    // text: the usage to print
        Invalid, // error: Qt's own text naming the unknown option or the missing value
    };
    Action action = Run;
    QString importPath;
    QString connectName;
    bool minimized = false; // start hidden in the tray, as the autostart entry does
    QString text;
    QString error;
};

// arguments as QCoreApplication::arguments() gives them (the program first, the toolkit's own
// options already removed). Accepted: nothing; "--import FILE" or "--import=FILE"; a single FILE
// or file:// URL, as file managers pass it through the desktop file's "%f"; "--connect NAME";
// "--minimized"; "--help". A relative FILE resolves against workingDir: the caller's directory,
// which start-up later leaves.
Request parse(const QStringList& arguments, const QString& workingDir);

} // namespace CommandLine
