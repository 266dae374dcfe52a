#pragma once

#include <QFileDialog>
#include <QLineEdit>
#include <QList>
#include <QMessageBox>
#include <QString>
#include <QStringList>
#include <QUrl>

class QWidget;

// Every modal question the program asks goes through here: the password prompt, the
// creation-method chooser, message boxes and file dialogs. In test mode nothing is shown; each
// request is recorded and answered from a queue, so headless tests never block on a nested loop.
class Prompt
{
public:
    enum class Kind { Text, Item, Message, OpenFile, SaveFile, Login };

    struct Shown
    {
        Kind kind = Kind::Message;
        QString title; // window title or file dialog caption
        QString text;  // label, message text
        QMessageBox::Icon icon = QMessageBox::NoIcon;
        QMessageBox::StandardButtons buttons;
        QMessageBox::StandardButton defaultButton = QMessageBox::NoButton;
        QString directory; // file dialogs: start directory
        QString filter;    // file dialogs: filter
        QStringList items; // item chooser: the choices
        QLineEdit::EchoMode echo = QLineEdit::Normal;
        QWidget* parent = nullptr;
        // Password prompts: the profile asked for and the "Remember" box (absent when empty).
        QString profile;
        QString remember;
        bool rememberEnabled = false;
        QString rememberToolTip;
        QString username; // login prompts: the username filled in
    };

    // A password or PIN for one profile, with an optional box to keep it.
    struct PasswordRequest
    {
        QString title;
        QString label;
        QString profile;  // shown above the field
        QString remember; // the box's text; no box when empty
        bool rememberEnabled = true;
        QString rememberToolTip; // why the box is off, when it is
    };
    struct PasswordAnswer
    {
        bool ok = false;
        QString secret;
        bool remember = false;
    };

    // A username and password for one profile, asked together; the username may be filled in.
    struct LoginRequest
    {
        QString title;
        QString profile;
        QString username;
        QString remember; // the password's box; no box when empty
        bool rememberEnabled = true;
        QString rememberToolTip;
    };
    struct LoginAnswer
    {
        bool ok = false;
        QString username;
        QString password;
        bool remember = false;
    };

    static QString getText(QWidget* parent, const QString& title, const QString& label,
                           QLineEdit::EchoMode echo, const QString& text, bool* ok);
    static QString getItem(QWidget* parent, const QString& title, const QString& label,
                           const QStringList& items, int current, bool editable, bool* ok);
    static QMessageBox::StandardButton
    message(QWidget* parent, QMessageBox::Icon icon, const QString& title, const QString& text,
            QMessageBox::StandardButtons buttons,
            QMessageBox::StandardButton defaultButton = QMessageBox::NoButton);
    static PasswordAnswer getPassword(QWidget* parent, const PasswordRequest& request);
    static LoginAnswer getLogin(QWidget* parent, const LoginRequest& request);
    // Opens an address in the user's browser (http and https only; false for anything else). In
    // test mode it is only recorded.
    static bool openUrl(const QUrl& url);
    static QList<QUrl> openedUrls();
    static QString getSaveFileName(QWidget* parent, const QString& caption, const QString& dir,
                                   const QString& filter);
    static QString getOpenFileName(QWidget* parent, const QString& caption, const QString& dir,
                                   const QString& filter, QString* selectedFilter,
                                   QFileDialog::Options options);

    // Test mode. Unanswered requests behave like the user pressing Escape: text, item and file
    // requests are cancelled, a message box returns its default button, else Ok if it has one,
    // else its escape button (No or Cancel).
    static void setTestMode(bool on);
    static bool testMode();
    static void answerText(const QString& text);
    // A password prompt's answer with its "Remember" box ticked or not (answerText: not ticked).
    static void answerPassword(const QString& text, bool remember);
    // A login prompt's answer (answerCancel() cancels it too).
    static void answerLogin(const QString& username, const QString& password, bool remember);
    static void answerCancel(); // the next text, item, login or file request is cancelled
    static void answerItem(const QString& item);
    static void answerButton(QMessageBox::StandardButton button);
    static void answerFile(const QString& path);
    static const QList<Shown>& history();
    static QList<Shown> messages(); // only the message boxes of the history
    static void reset();            // clears answers and history, stays in the current mode
};
