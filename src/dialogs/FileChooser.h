#pragma once

#include <QFileDialog>
#include <QString>

class QWidget;

// Every Select button of the connection dialogs opens its file dialog here, so the next file
// dialog, in the same or another connection dialog, starts where the user last found a file.
// The memory lasts for the run only.
namespace FileChooser {

// Same parameters as QFileDialog::getOpenFileName. An empty dir means the remembered directory;
// a non-empty one replaces it, even when the user then cancels. Returns the chosen path or an
// empty string.
QString openFileName(QWidget* parent = nullptr, const QString& caption = QString(),
                     const QString& dir = QString(), const QString& filter = QString(),
                     QString* selectedFilter = nullptr, QFileDialog::Options options = {});

// The remembered directory, or an empty string before the first file dialog of the run.
QString rememberedDirectory();

// For tests: forget the remembered directory, as at program start.
void resetRememberedDirectory();

} // namespace FileChooser
