#pragma once

#include <QCoreApplication>
#include <QString>
#include <QStringList>

class QTextDocument;

// The connection log: one paragraph per read of the engine's output, inserted as plain text, and
// only the newest lines kept, so a connection that runs for weeks or an engine that floods its
// output cannot grow the manager without bound. Never more than maxLines lines (line breaks
// inside a read count) or maxCharacters characters; once full, the oldest tenth is dropped. A
// notice above the first line kept says that lines were dropped.
class CappedLog
{
    Q_DECLARE_TR_FUNCTIONS(CappedLog)

public:
    static constexpr int defaultMaxLines = 10000;
    static constexpr qsizetype defaultMaxCharacters = 4 * 1024 * 1024;

    explicit CappedLog(QTextDocument* document, int maxLines = defaultMaxLines,
                       qsizetype maxCharacters = defaultMaxCharacters);

    int maxLines() const { return m_maxLines; }
    qsizetype maxCharacters() const { return m_maxCharacters; }

    void appendParagraph(const QString& text);
    // Several reads at once, each its own paragraph as appendParagraph() makes it: one change of
    // the document, so it is laid out and drawn once.
    void appendParagraphs(const QStringList& texts);
    // Everything shown so far would be dropped by what is about to come: drop it at once.
    void dropAll();
    void clear();
    bool hasDropped() const { return m_dropped; }

    static QString droppedNotice();

    // Laying out a line without a break opportunity takes time that grows with the square of its
    // length, so a line longer than this is shown as several, each at most this long.
    static constexpr qsizetype maxLineLength = 1024;
    static QString splitLongLines(const QString& text);

private:
    void trim();
    void showNotice(int removeUpTo);

    QTextDocument* m_document;
    int m_maxLines;
    qsizetype m_maxCharacters;
    bool m_dropped = false;
};
