#pragma once

#include "profiles/ProfileSave.h"
#include "profiles/RegularFile.h"

#include <QByteArray>
#include <QString>

class QDialog;
class QGridLayout;
class QGroupBox;
class QLineEdit;
class QPushButton;
class QWidget;

// Building blocks shared by the profile dialogs. Texts arrive already translated, so each dialog
// keeps its own translation context.
namespace DialogParts {

// All bytes of a regular file of at most 1 MiB, or nothing (and *ok false) otherwise: the dialogs
// show the path all the same and leave the judgement to the save.
QByteArray readWholeFile(const QString& path, bool* ok = nullptr, qint64 limit = RegularFile::defaultLimit);

// One Select button: the file dialog in the remembered directory; on a chosen path the field
// shows it and, when contents is given, the file's bytes are taken now, not at Save. *readFrom
// (may be null) then names the path when it was read, and is empty when it could not be. A
// cancelled file dialog changes nothing.
void browse(QWidget* parent, const QString& caption, const QString& filter, QLineEdit* field,
            QByteArray* contents = nullptr, QString* readFrom = nullptr,
            qint64 limit = RegularFile::defaultLimit);

// The CA and user certificate Select buttons of both certificate dialogs share one caption and
// filter, translated outside any dialog class.
void browseCertificate(QWidget* parent, QLineEdit* field, QByteArray* contents, QString* readFrom);

// Title, icon and the dialog's own grid: the content widget over the Save and Cancel buttons at
// the bottom right. Returns the content widget's grid, whose row 3 takes the spare height.
QGridLayout* buildFrame(QDialog* dialog, const QString& title, const QString& saveText,
                        const QString& cancelText, QPushButton** save, QPushButton** cancel);

// A group box in column 0 of the given grid row, with its own grid whose column 1 stretches.
QGroupBox* addGroup(QGridLayout* grid, int row, int columnSpan, const char* name, const QString& title);
QGridLayout* groupGrid(QGroupBox* group);

// A caption label in column 0 and a line edit from column 1 over `columnSpan` columns. The label is
// the field's buddy and its accessible name, so a screen reader names the field, not its group.
QLineEdit* addField(QGroupBox* group, int row, int columnSpan, const char* labelName, const QString& label,
                    const char* editName, const QString& text = QString());

// The caption columns of all group boxes get one width, so the fields of different groups start
// at the same x; call once every group is built.
void alignCaptions(QWidget* dialog);

// A Select button in column 3, under the right end of the field above it. Every Select button shows
// the same text; `accessibleName` says what this one selects.
QPushButton* addSelectButton(QGroupBox* group, int row, const char* name, const QString& text,
                             const QString& accessibleName);

// A caption as a screen reader should speak it: plain text without the required-field marker.
QString spokenCaption(const QString& caption, bool* required = nullptr);

// The body of the dialogs' saveSlot(): saves into the current directory (the profile root) and
// shows any problem the save reports in a message box parented to dialog, in the save's own
// translation context ("ProfileSave"), one for all dialogs. Calls dialog->accept() and returns true
// only when the profile was written; *newDirName (may be null) then receives the profile
// directory's name.
bool saveFromDialog(QDialog* dialog, ProfileKind kind, const ProfileFields& fields,
                    const QString& editDirName, QString* newDirName);

} // namespace DialogParts
