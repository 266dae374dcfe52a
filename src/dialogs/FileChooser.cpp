#include "FileChooser.h"

#include "app/Prompt.h"

#include <QDir>
#include <QFileInfo>

namespace FileChooser {

namespace {

struct Memory
{
    bool created = false;
    QString directory;
};

Memory& memory()
{
    static Memory m;
    return m;
}

} // namespace

QString openFileName(QWidget* parent, const QString& caption, const QString& dir, const QString& filter,
                     QString* selectedFilter, QFileDialog::Options options)
{
    Memory& m = memory();
    if (!m.created) {
        m.directory = QDir::homePath();
        m.created = true;
    }
    if (!dir.isEmpty())
        m.directory = dir;
    const QString path =
        Prompt::getOpenFileName(parent, caption, m.directory, filter, selectedFilter, options);
    if (!path.isEmpty())
        m.directory = QFileInfo(path).absolutePath();
    return path;
}

QString rememberedDirectory()
{
    return memory().directory;
}

void resetRememberedDirectory()
{
    memory() = Memory();
}

} // namespace FileChooser
