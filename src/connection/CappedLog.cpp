#include "CappedLog.h"

#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>

CappedLog::CappedLog(QTextDocument* document, int maxLines, qsizetype maxCharacters)
    : m_document(document), m_maxLines(maxLines), m_maxCharacters(maxCharacters)
{
}

QString CappedLog::droppedNotice()
{
    return tr("\u2026 earlier lines dropped");
}

QString CappedLog::splitLongLines(const QString& text)
{
    QString split;
    qsizetype lineStart = 0;
    qsizetype copied = 0;
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text.at(i) == QLatin1Char('\n')) {
            lineStart = i + 1;
        } else if (i - lineStart >= maxLineLength && !text.at(i).isLowSurrogate()) {
            split += QStringView(text).mid(copied, i - copied);
            split += QLatin1Char('\n');
            copied = i;
            lineStart = i;
        }
    }
    if (copied == 0)
        return text;
    split += QStringView(text).mid(copied);
    return split;
}

void CappedLog::appendParagraph(const QString& text)
{
    appendParagraphs({text});
}

void CappedLog::appendParagraphs(const QStringList& texts)
{
    if (texts.isEmpty())
        return;
    QTextCursor cursor(m_document);
    cursor.movePosition(QTextCursor::End);
    cursor.beginEditBlock();
    for (const QString& text : texts) {
        if (!m_document->isEmpty())
            cursor.insertBlock();
        cursor.insertText(splitLongLines(text));
    }
    cursor.endEditBlock();
    trim();
}

void CappedLog::dropAll()
{
    if (m_dropped && m_document->blockCount() == 1)
        return;
    m_document->clear();
    m_dropped = false;
    showNotice(0);
}

void CappedLog::clear()
{
    m_document->clear();
    m_dropped = false;
}

void CappedLog::trim()
{
    const int notice = m_dropped ? 1 : 0;
    if (m_document->blockCount() - notice <= m_maxLines && m_document->characterCount() <= m_maxCharacters)
        return;
    // Dropping lines at the top lays the whole log out again, so a tenth more goes at once and
    // the next drop waits until the log is full again.
    const int extraLines = m_document->blockCount() - notice - (m_maxLines - m_maxLines / 10);
    const qsizetype extraCharacters = m_document->characterCount() - (m_maxCharacters - m_maxCharacters / 10);

    // Whole paragraphs of the engine's output are dropped, never the newest one.
    QTextBlock first = m_document->firstBlock();
    if (m_dropped)
        first = first.next();
    QTextBlock keep = first;
    int lines = 0;
    qsizetype characters = 0;
    // The notice of a first drop takes room of its own.
    const qsizetype noticeCharacters = m_dropped ? 0 : droppedNotice().size() + 1;
    while (keep.isValid() && keep != m_document->lastBlock() &&
           (lines < extraLines || characters < extraCharacters + noticeCharacters)) {
        characters += keep.length();
        ++lines;
        keep = keep.next();
    }
    if (keep == first)
        return;
    if (!m_dropped) {
        showNotice(keep.position());
        return;
    }
    QTextCursor cursor(m_document);
    cursor.setPosition(first.position());
    cursor.setPosition(keep.position(), QTextCursor::KeepAnchor);
    cursor.removeSelectedText();
}

void CappedLog::showNotice(int removeUpTo)
{
    QTextCursor cursor(m_document);
    cursor.beginEditBlock();
    cursor.setPosition(0);
    cursor.setPosition(removeUpTo, QTextCursor::KeepAnchor);
    cursor.insertText(droppedNotice());
    if (removeUpTo > 0)
        cursor.insertBlock();
    cursor.endEditBlock();
    m_dropped = true;
}
