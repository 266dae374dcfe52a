#pragma once

#include <QString>
#include <QStringList>

namespace ProfileStore {

// The profile directories directly inside rootPath ("." and "..", hidden directories, files and
// symbolic links left out), by name ignoring case, the order both views of the list show. A link
// is never a profile: Delete would empty the directory it points to.
QStringList profileDirNames(const QString& rootPath);

struct DeleteResult
{
    bool deleted = false;
    QString reason; // why not, when deleted is false
};

// Deletes the profile directory dirName inside rootPath: every entry in it but subdirectories
// (links are removed as links, never followed), then the directory itself, which fails while a
// subdirectory is left. A dirName that is a symbolic link, not a directory or not a plain name
// is refused with nothing touched.
DeleteResult deleteProfile(const QString& rootPath, const QString& dirName);

// Removes a whole directory tree the save built itself, never following a link; false with
// *reason (may be null) when something stays.
bool removeTree(const QString& path, QString* reason = nullptr);

} // namespace ProfileStore
