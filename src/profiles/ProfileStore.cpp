#include "ProfileStore.h"

#include <QDir>

#include <algorithm>
#include <utility>
#include <vector>

namespace ProfileStore {

QStringList profileDirNames(const QString& rootPath)
{
    // The same order as QDir::Name | QDir::IgnoreCase, but with each lower-case key made once:
    // the toolkit's own sort costs several times the listing itself at thousands of profiles.
    const QStringList names = QDir(rootPath).entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Unsorted);
    std::vector<std::pair<QString, QString>> keyed;
    keyed.reserve(names.size());
    for (const QString& name : names)
        keyed.emplace_back(name.toLower(), name);
    std::sort(keyed.begin(), keyed.end());
    QStringList sorted;
    sorted.reserve(names.size());
    for (auto& entry : keyed)
        sorted.append(std::move(entry.second));
    return sorted;
}

} // namespace ProfileStore
