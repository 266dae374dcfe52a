#pragma once

#include <QString>

class QCoreApplication;

// The process-wide language code. Only the exact value "pl" means Polish; the program itself
// writes "pl" or the empty string, but whatever the "lang" file held is written back unchanged.
extern QString appLanguage;

namespace Language {

// The "lang" file: its bytes up to the first NUL are the code, untrimmed, with no line end.
// Returns false (leaving appLanguage untouched) when the file cannot be opened or is no regular
// file of at most 1 MiB; the write leaves anything but a regular file alone.
bool readLanguageFile(const QString& path = QStringLiteral("lang"));
bool writeLanguageFile(const QString& path = QStringLiteral("lang"));
QString decodeLanguage(const QByteArray& bytes);

bool isPolish();

// Installs the Polish catalogues when appLanguage selects Polish; called once at start-up,
// before any window exists, since the language of a run never changes afterwards.
void installTranslators(QCoreApplication& app);

} // namespace Language
