#include "Prompt.h"

#include <QCheckBox>
#include <QCoreApplication>
#include <QDesktopServices>
#include <QDialog>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QInputDialog>
#include <QLabel>
#include <QQueue>
#include <QVBoxLayout>

#include <functional>
#include <optional>

namespace {

struct Answer
{
    enum Type { Text, Cancel, Item, Button, File, Login } type;
    QString text; // a login's username
    QMessageBox::StandardButton button = QMessageBox::NoButton;
    bool remember = false;
    QString secret = QString(); // a login's password
};

struct TestState
{
    bool on = false;
    QQueue<Answer> answers;
    QList<Prompt::Shown> history;
    QList<QUrl> urls;
};

TestState& state()
{
    static TestState s;
    return s;
}

// Takes the first queued answer of one of the accepted types. Answers of other types stay queued
// so a test can line up a password and a message-box answer in either order.
bool takeAnswer(std::initializer_list<Answer::Type> types, Answer* out)
{
    auto& queue = state().answers;
    for (int i = 0; i < queue.size(); ++i) {
        for (auto t : types) {
            if (queue.at(i).type == t) {
                *out = queue.takeAt(i);
                return true;
            }
        }
    }
    return false;
}

QMessageBox::StandardButton escapeButton(QMessageBox::StandardButtons buttons,
                                         QMessageBox::StandardButton defaultButton)
{
    if (defaultButton != QMessageBox::NoButton)
        return defaultButton;
    for (auto b : {QMessageBox::Ok, QMessageBox::Cancel, QMessageBox::No, QMessageBox::Close})
        if (buttons.testFlag(b))
            return b;
    return QMessageBox::NoButton;
}

Answer::Type answerType(Prompt::Kind kind)
{
    switch (kind) {
    case Prompt::Kind::Text:
        return Answer::Text;
    case Prompt::Kind::Item:
        return Answer::Item;
    case Prompt::Kind::OpenFile:
    case Prompt::Kind::SaveFile:
        return Answer::File;
    case Prompt::Kind::Login:
        return Answer::Login;
    case Prompt::Kind::Message:
        break;
    }
    return Answer::Button;
}

// The one place that tells the modes apart. Outside test mode the real dialog answers; in test
// mode the request is recorded and answered from the queue, where a queued cancel ends a text,
// item or file request and a message box is never cancelled (its caller falls back to the escape
// button). No answer means cancelled.
std::optional<Answer> ask(const Prompt::Shown& shown, const std::function<std::optional<Answer>()>& dialog)
{
    if (!state().on)
        return dialog();
    state().history.append(shown);
    const Answer::Type wanted = answerType(shown.kind);
    Answer a;
    const bool taken = shown.kind == Prompt::Kind::Message ? takeAnswer({wanted}, &a)
                                                           : takeAnswer({wanted, Answer::Cancel}, &a);
    if (!taken || a.type != wanted)
        return std::nullopt;
    return a;
}

Prompt::Shown shownOf(Prompt::Kind kind, QWidget* parent, const QString& title, const QString& text)
{
    Prompt::Shown s;
    s.kind = kind;
    s.parent = parent;
    s.title = title;
    s.text = text;
    return s;
}

std::optional<Answer> textAnswer(const QString& text, bool ok)
{
    if (!ok)
        return std::nullopt;
    return Answer{Answer::Text, text};
}

QString textOf(const std::optional<Answer>& a, bool* ok)
{
    if (ok)
        *ok = a.has_value();
    return a ? a->text : QString();
}

// The profile's name above a password or login prompt, in bold.
void addProfileHeading(QDialog* dialog, QVBoxLayout* layout, const QString& name)
{
    auto* profile = new QLabel(dialog);
    profile->setTextFormat(Qt::PlainText);
    profile->setText(name);
    QFont bold = profile->font();
    bold.setBold(true);
    profile->setFont(bold);
    layout->addWidget(profile);
}

// The "remember" box, when the request offers one, then OK and Cancel.
template <typename Request>
QCheckBox* addRememberAndButtons(QDialog* dialog, QVBoxLayout* layout, const Request& request)
{
    QCheckBox* remember = nullptr;
    if (!request.remember.isEmpty()) {
        remember = new QCheckBox(request.remember, dialog);
        remember->setEnabled(request.rememberEnabled);
        remember->setToolTip(request.rememberToolTip);
        layout->addWidget(remember);
    }
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, dialog);
    QObject::connect(buttons, &QDialogButtonBox::accepted, dialog, &QDialog::accept);
    QObject::connect(buttons, &QDialogButtonBox::rejected, dialog, &QDialog::reject);
    layout->addWidget(buttons);
    return remember;
}

bool ticked(const QCheckBox* remember)
{
    return remember && remember->isEnabled() && remember->isChecked();
}

std::optional<Answer> passwordDialog(QWidget* parent, const Prompt::PasswordRequest& request)
{
    QDialog dialog(parent);
    dialog.setWindowTitle(request.title);
    auto* layout = new QVBoxLayout(&dialog);
    if (!request.profile.isEmpty())
        addProfileHeading(&dialog, layout, request.profile);
    auto* label = new QLabel(request.label, &dialog);
    auto* field = new QLineEdit(&dialog);
    field->setEchoMode(QLineEdit::Password);
    label->setBuddy(field);
    layout->addWidget(label);
    layout->addWidget(field);
    const QCheckBox* remember = addRememberAndButtons(&dialog, layout, request);
    field->setFocus();
    if (dialog.exec() != QDialog::Accepted)
        return std::nullopt;
    Answer a{Answer::Text, field->text()};
    a.remember = ticked(remember);
    return a;
}

std::optional<Answer> loginDialog(QWidget* parent, const Prompt::LoginRequest& request)
{
    QDialog dialog(parent);
    dialog.setObjectName(QStringLiteral("loginDialog"));
    dialog.setWindowTitle(request.title);
    auto* layout = new QVBoxLayout(&dialog);
    addProfileHeading(&dialog, layout, request.profile);
    auto* form = new QFormLayout;
    auto* username = new QLineEdit(request.username, &dialog);
    username->setObjectName(QStringLiteral("usernameField"));
    auto* password = new QLineEdit(&dialog);
    password->setObjectName(QStringLiteral("passwordField"));
    password->setEchoMode(QLineEdit::Password);
    form->addRow(QCoreApplication::translate("Prompt", "Username:"), username);
    form->addRow(QCoreApplication::translate("Prompt", "Password:"), password);
    layout->addLayout(form);
    const QCheckBox* remember = addRememberAndButtons(&dialog, layout, request);
    // Straight to what is missing: a remembered username needs only the password.
    if (request.username.isEmpty())
        username->setFocus();
    else
        password->setFocus();
    if (dialog.exec() != QDialog::Accepted)
        return std::nullopt;
    Answer a{Answer::Login, username->text()};
    a.secret = password->text();
    a.remember = ticked(remember);
    return a;
}

// The password and the login prompt show their profile and "remember" box alike.
template <typename Request> void showRemember(Prompt::Shown& s, const Request& request)
{
    s.echo = QLineEdit::Password;
    s.profile = request.profile;
    s.remember = request.remember;
    s.rememberEnabled = request.rememberEnabled;
    s.rememberToolTip = request.rememberToolTip;
}

// A box that is off or absent cannot have been ticked, whatever a test queued.
template <typename Request> bool rememberTicked(const Answer& a, const Request& request)
{
    return a.remember && !request.remember.isEmpty() && request.rememberEnabled;
}

} // namespace

Prompt::LoginAnswer Prompt::getLogin(QWidget* parent, const LoginRequest& request)
{
    Shown s = shownOf(Kind::Login, parent, request.title, request.profile);
    showRemember(s, request);
    s.username = request.username;
    const std::optional<Answer> a = ask(s, [&] { return loginDialog(parent, request); });
    LoginAnswer result;
    result.ok = a.has_value();
    if (a) {
        result.username = a->text;
        result.password = a->secret;
        result.remember = rememberTicked(*a, request);
    }
    return result;
}

QString Prompt::getText(QWidget* parent, const QString& title, const QString& label, QLineEdit::EchoMode echo,
                        const QString& text, bool* ok)
{
    Shown s = shownOf(Kind::Text, parent, title, label);
    s.echo = echo;
    return textOf(ask(s,
                      [&] {
                          bool accepted = false;
                          const QString answer =
                              QInputDialog::getText(parent, title, label, echo, text, &accepted);
                          return textAnswer(answer, accepted);
                      }),
                  ok);
}

Prompt::PasswordAnswer Prompt::getPassword(QWidget* parent, const PasswordRequest& request)
{
    Shown s = shownOf(Kind::Text, parent, request.title, request.label);
    showRemember(s, request);
    const std::optional<Answer> a = ask(s, [&] { return passwordDialog(parent, request); });
    PasswordAnswer result;
    result.ok = a.has_value();
    if (a) {
        result.secret = a->text;
        result.remember = rememberTicked(*a, request);
    }
    return result;
}

QString Prompt::getItem(QWidget* parent, const QString& title, const QString& label, const QStringList& items,
                        int current, bool editable, bool* ok)
{
    Shown s = shownOf(Kind::Item, parent, title, label);
    s.items = items;
    return textOf(ask(s,
                      [&] {
                          bool accepted = false;
                          const QString answer = QInputDialog::getItem(parent, title, label, items, current,
                                                                       editable, &accepted);
                          return textAnswer(answer, accepted);
                      }),
                  ok);
}

QMessageBox::StandardButton Prompt::message(QWidget* parent, QMessageBox::Icon icon, const QString& title,
                                            const QString& text, QMessageBox::StandardButtons buttons,
                                            QMessageBox::StandardButton defaultButton)
{
    Shown s = shownOf(Kind::Message, parent, title, text);
    s.icon = icon;
    s.buttons = buttons;
    s.defaultButton = defaultButton;
    const std::optional<Answer> a = ask(s, [&]() -> std::optional<Answer> {
        QMessageBox box(icon, title, text, buttons, parent);
        if (defaultButton != QMessageBox::NoButton)
            box.setDefaultButton(defaultButton);
        // Closing the box with Escape or the title bar yields its escape button.
        return Answer{Answer::Button, QString(), static_cast<QMessageBox::StandardButton>(box.exec())};
    });
    return a ? a->button : escapeButton(buttons, defaultButton);
}

QString Prompt::getOpenFileName(QWidget* parent, const QString& caption, const QString& dir,
                                const QString& filter, QString* selectedFilter, QFileDialog::Options options)
{
    Shown s = shownOf(Kind::OpenFile, parent, caption, QString());
    s.directory = dir;
    s.filter = filter;
    return textOf(ask(s,
                      [&] {
                          const QString path = QFileDialog::getOpenFileName(parent, caption, dir, filter,
                                                                            selectedFilter, options);
                          return textAnswer(path, !path.isEmpty());
                      }),
                  nullptr);
}

QString Prompt::getSaveFileName(QWidget* parent, const QString& caption, const QString& dir,
                                const QString& filter)
{
    Shown s = shownOf(Kind::SaveFile, parent, caption, QString());
    s.directory = dir;
    s.filter = filter;
    return textOf(ask(s,
                      [&] {
                          const QString path = QFileDialog::getSaveFileName(parent, caption, dir, filter);
                          return textAnswer(path, !path.isEmpty());
                      }),
                  nullptr);
}

void Prompt::setTestMode(bool on)
{
    state().on = on;
}

bool Prompt::testMode()
{
    return state().on;
}

void Prompt::answerText(const QString& text)
{
    state().answers.enqueue({Answer::Text, text});
}

void Prompt::answerPassword(const QString& text, bool remember)
{
    Answer a{Answer::Text, text};
    a.remember = remember;
    state().answers.enqueue(a);
}

void Prompt::answerLogin(const QString& username, const QString& password, bool remember)
{
    Answer a{Answer::Login, username};
    a.secret = password;
    a.remember = remember;
    state().answers.enqueue(a);
}

bool Prompt::openUrl(const QUrl& url)
{
    // Never a file, a program or a custom scheme: a server could name any of them.
    if (!url.isValid() || (url.scheme() != QLatin1String("https") && url.scheme() != QLatin1String("http")))
        return false;
    if (state().on) {
        state().urls.append(url);
        return true;
    }
    return QDesktopServices::openUrl(url);
}

QList<QUrl> Prompt::openedUrls()
{
    return state().urls;
}

void Prompt::answerCancel()
{
    state().answers.enqueue({Answer::Cancel, QString()});
}

void Prompt::answerItem(const QString& item)
{
    state().answers.enqueue({Answer::Item, item});
}

void Prompt::answerButton(QMessageBox::StandardButton button)
{
    state().answers.enqueue({Answer::Button, QString(), button});
}

void Prompt::answerFile(const QString& path)
{
    state().answers.enqueue({Answer::File, path});
}

const QList<Prompt::Shown>& Prompt::history()
{
    return state().history;
}

QList<Prompt::Shown> Prompt::messages()
{
    QList<Shown> result;
    for (const auto& s : state().history)
        if (s.kind == Kind::Message)
            result.append(s);
    return result;
}

void Prompt::reset()
{
    state().answers.clear();
    state().history.clear();
    state().urls.clear();
}
