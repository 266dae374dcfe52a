#include "DialogParts.h"

#include "FileChooser.h"
#include "app/Pictures.h"
#include "app/Prompt.h"
#include "profiles/RegularFile.h"

#include <QCoreApplication>
#include <QDialog>
#include <QFile>
#include <QGridLayout>
#include <QGroupBox>
#include <QIcon>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTextDocumentFragment>

namespace DialogParts {

QByteArray readWholeFile(const QString& path, bool* ok, qint64 limit)
{
    const auto bytes = RegularFile::read(path, limit);
    if (ok)
        *ok = bytes.has_value();
    return bytes.value_or(QByteArray());
}

void browse(QWidget* parent, const QString& caption, const QString& filter, QLineEdit* field,
            QByteArray* contents, QString* readFrom, qint64 limit)
{
    const QString path = FileChooser::openFileName(parent, caption, QString(), filter);
    if (path.isEmpty())
        return;
    if (contents) {
        bool ok = false;
        *contents = readWholeFile(path, &ok, limit);
        if (readFrom)
            *readFrom = ok ? path : QString();
    }
    field->setText(path);
}

void browseCertificate(QWidget* parent, QLineEdit* field, QByteArray* contents, QString* readFrom)
{
    // Certificate authorities ship ".crt" and ".pem" files more often than ".cert".
    browse(parent, QCoreApplication::translate("QObject", "Select certificate file"),
           QCoreApplication::translate("QObject", "Certificate files (*.cert *.crt *.pem);;All files (*)"),
           field, contents, readFrom);
}

QGridLayout* buildFrame(QDialog* dialog, const QString& title, const QString& saveText,
                        const QString& cancelText, QPushButton** save, QPushButton** cancel)
{
    dialog->setWindowTitle(title);
    dialog->setWindowIcon(Pictures::icon(QStringLiteral(":img/vpn.png")));

    auto* grid = new QGridLayout(dialog);
    auto* content = new QWidget(dialog);
    content->setObjectName(QStringLiteral("contentWidget"));
    grid->addWidget(content, 0, 0, 1, 3);

    *save = new QPushButton(saveText, dialog);
    (*save)->setObjectName(QStringLiteral("saveButton"));
    // Enter in a field saves, as in any form; it must not open a file dialog.
    (*save)->setDefault(true);
    grid->addWidget(*save, 1, 1);
    *cancel = new QPushButton(cancelText, dialog);
    (*cancel)->setObjectName(QStringLiteral("cancelButton"));
    grid->addWidget(*cancel, 1, 2);
    grid->setColumnStretch(0, 1);
    grid->setRowStretch(0, 1);

    auto* contentGrid = new QGridLayout(content);
    contentGrid->setContentsMargins(0, 0, 0, 0);
    contentGrid->setRowStretch(3, 1);
    return contentGrid;
}

QGroupBox* addGroup(QGridLayout* grid, int row, int columnSpan, const char* name, const QString& title)
{
    auto* group = new QGroupBox(title, grid->parentWidget());
    group->setObjectName(QLatin1String(name));
    grid->addWidget(group, row, 0, 1, columnSpan);
    auto* inner = new QGridLayout(group);
    inner->setColumnStretch(1, 1);
    return group;
}

QGridLayout* groupGrid(QGroupBox* group)
{
    return static_cast<QGridLayout*>(group->layout());
}

QLineEdit* addField(QGroupBox* group, int row, int columnSpan, const char* labelName, const QString& label,
                    const char* editName, const QString& text)
{
    auto* caption = new QLabel(label, group);
    caption->setObjectName(QLatin1String(labelName));
    auto* edit = new QLineEdit(text, group);
    edit->setObjectName(QLatin1String(editName));
    // Room for a host and port or a short path at the default size.
    edit->setMinimumWidth(edit->fontMetrics().averageCharWidth() * 32);
    caption->setBuddy(edit);
    bool required = false;
    edit->setAccessibleName(spokenCaption(label, &required));
    if (required)
        edit->setAccessibleDescription(QCoreApplication::translate("DialogParts", "Required field"));
    groupGrid(group)->addWidget(caption, row, 0);
    groupGrid(group)->addWidget(edit, row, 1, 1, columnSpan);
    return edit;
}

void alignCaptions(QWidget* dialog)
{
    QList<QWidget*> captions;
    int width = 0;
    for (QGroupBox* group : dialog->findChildren<QGroupBox*>()) {
        QGridLayout* grid = groupGrid(group);
        for (int row = 0; row < grid->rowCount(); ++row) {
            QLayoutItem* item = grid->itemAtPosition(row, 0);
            if (auto* label = item ? qobject_cast<QLabel*>(item->widget()) : nullptr) {
                captions.append(label);
                width = qMax(width, label->sizeHint().width());
            }
        }
    }
    for (QWidget* caption : captions)
        caption->setMinimumWidth(width);
}

QPushButton* addSelectButton(QGroupBox* group, int row, const char* name, const QString& text,
                             const QString& accessibleName)
{
    auto* button = new QPushButton(text, group);
    button->setObjectName(QLatin1String(name));
    button->setAccessibleName(accessibleName);
    button->setAutoDefault(false);
    groupGrid(group)->addWidget(button, row, 3);
    return button;
}

bool saveFromDialog(QDialog* dialog, ProfileKind kind, const ProfileFields& fields,
                    const QString& editDirName, QString* newDirName)
{
    auto tr = [](const char* text) { return QCoreApplication::translate("ProfileSave", text); };
    const SaveResult result = ProfileSave::save(kind, fields, editDirName, QDir::currentPath());
    switch (result.status) {
    case SaveResult::Saved:
        if (newDirName)
            *newDirName = result.dirName;
        dialog->accept();
        return true;
    case SaveResult::MissingData:
        Prompt::message(dialog, QMessageBox::Information, tr(ProfileSave::missingDataTitle),
                        tr(result.message), QMessageBox::Ok);
        return false;
    case SaveResult::Refused:
        Prompt::message(dialog, QMessageBox::Warning, tr(ProfileSave::refusedTitle), tr(result.message),
                        QMessageBox::Ok);
        return false;
    case SaveResult::Failed:
        Prompt::message(dialog, QMessageBox::Critical, tr(ProfileSave::errorTitle),
                        tr(ProfileSave::errorText).arg(result.reason), QMessageBox::Ok);
        return false;
    case SaveResult::Unreadable:
        Prompt::message(dialog, QMessageBox::Critical, tr(ProfileSave::errorTitle),
                        tr(result.message).arg(result.reason), QMessageBox::Ok);
        return false;
    }
    return false;
}

QString spokenCaption(const QString& caption, bool* required)
{
    static const QString marker = QStringLiteral("<sup>*</sup>");
    if (required)
        *required = caption.contains(marker);
    return QTextDocumentFragment::fromHtml(QString(caption).remove(marker)).toPlainText().trimmed();
}

} // namespace DialogParts
