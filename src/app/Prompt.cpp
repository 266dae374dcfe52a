#include "Prompt.h"

#include <QInputDialog>
#include <QQueue>

#include <optional>

namespace {

struct Answer
{
    enum Type { Text, Cancel, Item, Button, File } type;
    QString text;
    QMessageBox::StandardButton button = QMessageBox::NoButton;
};

struct TestState
{
    bool on = false;
    QQueue<Answer> answers;
    QList<Prompt::Shown> history;
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
        return Answer::File;
    case Prompt::Kind::Message:
        break;
    }
    return Answer::Button;
}

// The one test-mode path of every request: it is recorded, then answered from the queue. A
// queued cancel ends a text, item or file request; a message box is never cancelled, its caller
// falls back to the escape button.
std::optional<Answer> answerInTestMode(const Prompt::Shown& shown)
{
    state().history.append(shown);
    const Answer::Type wanted = answerType(shown.kind);
    Answer a;
    const bool taken = shown.kind == Prompt::Kind::Message ? takeAnswer({wanted}, &a)
                                                           : takeAnswer({wanted, Answer::Cancel}, &a);
    if (!taken || a.type != wanted)
        return std::nullopt;
    return a;
}

QString answeredText(const Prompt::Shown& shown, bool* ok)
{
    const std::optional<Answer> a = answerInTestMode(shown);
    if (ok)
        *ok = a.has_value();
    return a ? a->text : QString();
}

} // namespace

QString Prompt::getText(QWidget* parent, const QString& title, const QString& label, QLineEdit::EchoMode echo,
                        const QString& text, bool* ok)
{
    if (!state().on)
        return QInputDialog::getText(parent, title, label, echo, text, ok);
    Shown s;
    s.kind = Kind::Text;
    s.title = title;
    s.text = label;
    s.echo = echo;
    s.parent = parent;
    return answeredText(s, ok);
}

QString Prompt::getItem(QWidget* parent, const QString& title, const QString& label, const QStringList& items,
                        int current, bool editable, bool* ok)
{
    if (!state().on)
        return QInputDialog::getItem(parent, title, label, items, current, editable, ok);
    Shown s;
    s.kind = Kind::Item;
    s.title = title;
    s.text = label;
    s.items = items;
    s.parent = parent;
    return answeredText(s, ok);
}

QMessageBox::StandardButton Prompt::message(QWidget* parent, QMessageBox::Icon icon, const QString& title,
                                            const QString& text, QMessageBox::StandardButtons buttons,
                                            QMessageBox::StandardButton defaultButton)
{
    if (!state().on) {
        QMessageBox box(icon, title, text, buttons, parent);
        if (defaultButton != QMessageBox::NoButton)
            box.setDefaultButton(defaultButton);
        const int result = box.exec();
        // Closing the box with Escape or the title bar yields its escape button.
        return static_cast<QMessageBox::StandardButton>(result);
    }
    Shown s;
    s.kind = Kind::Message;
    s.title = title;
    s.text = text;
    s.icon = icon;
    s.buttons = buttons;
    s.defaultButton = defaultButton;
    s.parent = parent;
    const std::optional<Answer> a = answerInTestMode(s);
    return a ? a->button : escapeButton(buttons, defaultButton);
}

QString Prompt::getOpenFileName(QWidget* parent, const QString& caption, const QString& dir,
                                const QString& filter, QString* selectedFilter, QFileDialog::Options options)
{
    if (!state().on)
        return QFileDialog::getOpenFileName(parent, caption, dir, filter, selectedFilter, options);
    Shown s;
    s.kind = Kind::OpenFile;
    s.title = caption;
    s.directory = dir;
    s.filter = filter;
    s.parent = parent;
    return answeredText(s, nullptr);
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
}
