#pragma once

#include <QString>
#include <QStringList>

namespace ProfileStore {

// The profile directories directly inside rootPath ("." and "..", hidden directories and files
// left out), by name ignoring case, the order both views of the list show.
QStringList profileDirNames(const QString& rootPath);

} // namespace ProfileStore
