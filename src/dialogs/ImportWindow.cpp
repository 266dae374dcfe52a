#include "ImportWindow.h"

#include "DialogParts.h"
#include "app/Prompt.h"
#include "profiles/ProfileSave.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QGridLayout>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMimeData>
#include <QPushButton>
#include <QTreeWidget>
#include <QUrl>

using namespace DialogParts;

namespace {

// What the save reports, shown in this dialog's context; listed here so lupdate finds them.
[[maybe_unused]] const char* const translatedTexts[] = {
    QT_TRANSLATE_NOOP("ImportWindow", "Missing data"),
    QT_TRANSLATE_NOOP("ImportWindow", "Enter VPN connection name!"),
    QT_TRANSLATE_NOOP("ImportWindow", "Choose a password for the PKCS#12 file!"),
    QT_TRANSLATE_NOOP("ImportWindow", "Invalid data"),
    QT_TRANSLATE_NOOP("ImportWindow", "VPN connection name must not contain line breaks!"),
    QT_TRANSLATE_NOOP("ImportWindow", "Private key name must not contain line breaks!"),
    QT_TRANSLATE_NOOP("ImportWindow", "Error"),
    QT_TRANSLATE_NOOP("ImportWindow", "VPN connection could not be saved:\n%1"),
};

enum Column { LineColumn, SourceColumn, FateColumn, ReasonColumn };

QLabel* addValue(QGroupBox* group, int row, const char* name, const QString& caption, const QString& value)
{
    auto* captionLabel = new QLabel(caption, group);
    captionLabel->setObjectName(QLatin1String(name) + QLatin1String("Caption"));
    // Everything here comes from the imported file: none of it may turn into markup.
    auto* valueLabel = new QLabel(value, group);
    valueLabel->setObjectName(QLatin1String(name) + QLatin1String("Value"));
    valueLabel->setTextFormat(Qt::PlainText);
    valueLabel->setTextInteractionFlags(Qt::TextSelectableByMouse);
    valueLabel->setAccessibleName(caption);
    groupGrid(group)->addWidget(captionLabel, row, 0);
    groupGrid(group)->addWidget(valueLabel, row, 1, 1, 3);
    return valueLabel;
}

QLabel* addNote(QGroupBox* group, int row, const char* name, const QString& text)
{
    auto* note = new QLabel(text, group);
    note->setObjectName(QLatin1String(name));
    note->setTextFormat(Qt::PlainText);
    note->setWordWrap(true);
    groupGrid(group)->addWidget(note, row, 0, 1, 4);
    return note;
}

QString kindText(const OvpnImport& import)
{
    switch (import.kind()) {
    case OvpnImport::Kind::Pkcs12:
        return import.needsPkcs12Password()
                   ? ImportWindow::tr("PKCS#12 certificate, packed from the file's certificate and key")
                   : ImportWindow::tr("PKCS#12 certificate");
    case OvpnImport::Kind::CertificateAndTokenKey:
        return ImportWindow::tr("Certificate and key in a token");
    case OvpnImport::Kind::UserPassword:
        return ImportWindow::tr("Username and password");
    }
    return QString();
}

QString fateText(const OvpnImport::Entry& entry)
{
    switch (entry.fate) {
    case OvpnImport::Fate::Kept:
        return ImportWindow::tr("kept");
    case OvpnImport::Fate::Changed:
        // Packed into the PKCS#12 file, for one, leaves no line of its own.
        return entry.written.isEmpty() ? ImportWindow::tr("changed")
                                       : ImportWindow::tr("changed to: %1").arg(entry.written);
    case OvpnImport::Fate::LeftOut:
        return ImportWindow::tr("left out");
    }
    return QString();
}

QTreeWidget* reportView(const OvpnImport& import, QWidget* parent)
{
    auto* view = new QTreeWidget(parent);
    view->setObjectName(QStringLiteral("reportView"));
    view->setAccessibleName(ImportWindow::tr("What the import makes of each line"));
    view->setRootIsDecorated(false);
    view->setUniformRowHeights(true);
    view->setAlternatingRowColors(true);
    view->setSelectionBehavior(QAbstractItemView::SelectRows);
    view->setHeaderLabels({ImportWindow::tr("Line"), ImportWindow::tr("In the file"),
                           ImportWindow::tr("In the connection"), ImportWindow::tr("Why")});
    QList<QTreeWidgetItem*> rows;
    for (const OvpnImport::Entry& entry : import.report()) {
        QString why = QCoreApplication::translate("OvpnImport", OvpnImport::reasonText(entry.reason));
        if (!entry.detail.isEmpty())
            why += QStringLiteral(" (%1)").arg(entry.detail);
        auto* row = new QTreeWidgetItem(
            QStringList{QString::number(entry.line), entry.source.trimmed(), fateText(entry), why});
        row->setTextAlignment(LineColumn, Qt::AlignRight | Qt::AlignVCenter);
        // Long lines are cut at the column's edge; the tooltip shows them whole.
        for (int column : {SourceColumn, FateColumn, ReasonColumn})
            row->setToolTip(column, row->text(column));
        if (entry.fate == OvpnImport::Fate::LeftOut) {
            QFont font = row->font(FateColumn);
            font.setBold(true);
            row->setFont(FateColumn, font);
        }
        rows.append(row);
    }
    view->addTopLevelItems(rows);
    view->header()->setStretchLastSection(true);
    view->header()->setSectionResizeMode(LineColumn, QHeaderView::ResizeToContents);
    const int characters = view->fontMetrics().averageCharWidth();
    view->setColumnWidth(SourceColumn, characters * 34);
    view->setColumnWidth(FateColumn, characters * 22);
    view->setMinimumHeight(view->fontMetrics().height() * 10);
    return view;
}

} // namespace

ImportWindow::ImportWindow(const OvpnImport& import, QWidget* parent) : QDialog(parent), m_import(import)
{
    QGridLayout* content =
        buildFrame(this, tr("Import connection"), tr("&Save"), tr("Can&cel"), &m_saveButton, &m_cancelButton);

    QGroupBox* connectionGroup = addGroup(content, 0, 1, "connectionGroup", tr("VPN connection"));
    m_nameEdit = addField(connectionGroup, 0, 3, "nameLabel", tr("Connection name<sup>*</sup>"), "nameEdit",
                          m_import.name());
    addValue(connectionGroup, 1, "server", tr("VPN server"),
             tr("%1, port %2").arg(m_import.host(), m_import.port()));
    addValue(connectionGroup, 2, "kind", tr("Kind"), kindText(m_import));
    if (m_import.asksUserPassword()) {
        addValue(connectionGroup, 3, "signIn", tr("Sign-in"),
                 m_import.staticChallenge().isEmpty()
                     ? tr("username and password, asked for when connecting")
                     : tr("username, password and a one-time code, asked for when connecting"));
    }

    int row = 1;
    if (m_import.needsPkcs12Password()) {
        QGroupBox* group = addGroup(content, row++, 1, "passwordGroup", tr("PKCS#12 password"));
        addNote(group, 0, "passwordNote",
                m_import.keyIsEncrypted()
                    ? tr("The certificate and private key are packed into a PKCS#12 file protected by "
                         "this password, which you enter when connecting. Left empty, the key's "
                         "passphrase protects it.")
                    : tr("The certificate and private key are packed into a PKCS#12 file protected by "
                         "this password, which you enter when connecting."));
        const QString required = m_import.keyIsEncrypted() ? QString() : QStringLiteral("<sup>*</sup>");
        m_passwordEdit = addField(group, 1, 3, "passwordLabel", tr("Password") + required, "passwordEdit");
        m_repeatEdit = addField(group, 2, 3, "repeatLabel", tr("Repeat password") + required, "repeatEdit");
        if (m_import.keyIsEncrypted()) {
            m_passphraseEdit = addField(group, 3, 3, "passphraseLabel",
                                        tr("Private key passphrase<sup>*</sup>"), "passphraseEdit");
        }
        for (QLineEdit* edit : {m_passwordEdit, m_repeatEdit, m_passphraseEdit})
            if (edit)
                edit->setEchoMode(QLineEdit::Password);
    }
    if (m_import.kind() == OvpnImport::Kind::CertificateAndTokenKey) {
        QGroupBox* group = addGroup(content, row++, 1, "tokenGroup", tr("Key in the token"));
        addNote(group, 0, "tokenNote",
                tr("The file names the key by its token identifier; the connection names it by its "
                   "label in the token."));
        addValue(group, 1, "pkcs11Id", tr("Token identifier"), m_import.pkcs11Id());
        m_keyLabelEdit =
            addField(group, 2, 3, "keyLabel", tr("Key name<sup>*</sup>"), "keyEdit", m_import.keyLabel());
    }

    QGroupBox* reportGroup = addGroup(content, row, 1, "reportGroup", tr("Lines of the file"));
    int kept = 0;
    int changed = 0;
    int leftOut = 0;
    for (const OvpnImport::Entry& entry : m_import.report()) {
        kept += entry.fate == OvpnImport::Fate::Kept ? 1 : 0;
        changed += entry.fate == OvpnImport::Fate::Changed ? 1 : 0;
        leftOut += entry.fate == OvpnImport::Fate::LeftOut ? 1 : 0;
    }
    addNote(reportGroup, 0, "summaryLabel",
            tr("Kept: %1, changed: %2, left out: %3.").arg(kept).arg(changed).arg(leftOut));
    m_reportView = reportView(m_import, reportGroup);
    groupGrid(reportGroup)->addWidget(m_reportView, 1, 0, 1, 4);
    // The report takes the spare height, not the fields above it.
    content->setRowStretch(3, 0);
    content->setRowStretch(row, 1);

    alignCaptions(this);
    resize(fontMetrics().averageCharWidth() * 120, fontMetrics().height() * 36);

    connect(m_cancelButton, &QPushButton::clicked, this, &QDialog::reject);
    connect(m_saveButton, &QPushButton::clicked, this, &ImportWindow::saveSlot);
}

bool ImportWindow::importFile(QWidget* parent, const QString& path, QString* newDirName)
{
    OvpnImport import;
    if (!import.readFile(path)) {
        Prompt::message(
            parent, QMessageBox::Critical, tr("Import connection"),
            tr("The file %1 cannot be imported:\n%2").arg(QDir::toNativeSeparators(path), import.error()),
            QMessageBox::Ok);
        return false;
    }
    ImportWindow dialog(import, parent);
    if (dialog.exec() != QDialog::Accepted)
        return false;
    if (newDirName)
        *newDirName = dialog.profileDirName();
    return true;
}

QString ImportWindow::importablePath(const QMimeData* data)
{
    if (!data || !data->hasUrls())
        return QString();
    for (const QUrl& url : data->urls()) {
        if (!url.isLocalFile())
            continue;
        const QString suffix = QFileInfo(url.toLocalFile()).suffix().toLower();
        if (suffix == QLatin1String("ovpn") || suffix == QLatin1String("conf"))
            return url.toLocalFile();
    }
    return QString();
}

QString ImportWindow::fileFilter()
{
    return tr("OpenVPN files (*.ovpn *.conf);;All files (*)");
}

bool ImportWindow::preparePkcs12()
{
    const QString password = m_passwordEdit->text();
    const QString passphrase = m_passphraseEdit ? m_passphraseEdit->text() : QString();
    if (m_import.keyIsEncrypted() && passphrase.isEmpty()) {
        Prompt::message(this, QMessageBox::Information, tr(ProfileSave::missingDataTitle),
                        tr("Enter the passphrase of the private key!"), QMessageBox::Ok);
        return false;
    }
    if (password.isEmpty() && passphrase.isEmpty()) {
        Prompt::message(this, QMessageBox::Information, tr(ProfileSave::missingDataTitle),
                        tr("Choose a password for the PKCS#12 file!"), QMessageBox::Ok);
        return false;
    }
    if (password != m_repeatEdit->text()) {
        Prompt::message(this, QMessageBox::Warning, tr(ProfileSave::refusedTitle),
                        tr("The passwords do not match!"), QMessageBox::Ok);
        return false;
    }
    if (!m_import.setPkcs12Password(password, passphrase)) {
        Prompt::message(this, QMessageBox::Critical, tr(ProfileSave::errorTitle), m_import.error(),
                        QMessageBox::Ok);
        return false;
    }
    return true;
}

void ImportWindow::saveSlot()
{
    // The name first, as the fields run: the save checks it the same way.
    ProfileFields fields;
    fields.name = m_nameEdit->text();
    fields.server = m_import.host();
    fields.pkcs12Field = QStringLiteral("-");
    SaveResult result = ProfileSave::check(ProfileKind::Pkcs12, fields);
    if (result.status == SaveResult::Saved) {
        m_import.setName(fields.name);
        if (m_keyLabelEdit && m_keyLabelEdit->text().isEmpty()) {
            Prompt::message(this, QMessageBox::Information, tr(ProfileSave::missingDataTitle),
                            tr("Enter the name of the key in the token!"), QMessageBox::Ok);
            return;
        }
        if (m_keyLabelEdit)
            m_import.setKeyLabel(m_keyLabelEdit->text());
        // Packed again on every Save: the name is the PKCS#12 file's friendly name.
        if (m_import.needsPkcs12Password() && !preparePkcs12())
            return;
        result = m_import.write(QDir::currentPath());
    }
    switch (result.status) {
    case SaveResult::Saved:
        m_profileDirName = result.dirName;
        accept();
        return;
    case SaveResult::MissingData:
        Prompt::message(this, QMessageBox::Information, tr(ProfileSave::missingDataTitle), tr(result.message),
                        QMessageBox::Ok);
        return;
    case SaveResult::Refused:
        Prompt::message(this, QMessageBox::Warning, tr(ProfileSave::refusedTitle), tr(result.message),
                        QMessageBox::Ok);
        return;
    case SaveResult::Failed:
    case SaveResult::Unreadable:
        Prompt::message(this, QMessageBox::Critical, tr(ProfileSave::errorTitle),
                        tr(ProfileSave::errorText).arg(result.reason), QMessageBox::Ok);
        return;
    }
}
