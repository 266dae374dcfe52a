#include "Prompt.h"

#include <QInputDialog>
#include <QQueue>

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
    state().history.append(s);
    Answer a;
    const bool answered = takeAnswer({Answer::Text, Answer::Cancel}, &a) && a.type == Answer::Text;
    if (ok)
        *ok = answered;
    return answered ? a.text : QString();
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
    state().history.append(s);
    Answer a;
    const bool answered = takeAnswer({Answer::Item, Answer::Cancel}, &a) && a.type == Answer::Item;
    if (ok)
        *ok = answered;
    return answered ? a.text : QString();
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
    state().history.append(s);
    Answer a;
    if (takeAnswer({Answer::Button}, &a))
        return a.button;
    return escapeButton(buttons, defaultButton);
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
    state().history.append(s);
    Answer a;
    if (takeAnswer({Answer::File, Answer::Cancel}, &a) && a.type == Answer::File)
        return a.text;
    return QString();
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
