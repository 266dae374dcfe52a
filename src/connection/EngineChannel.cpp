#include "EngineChannel.h"

#include <QStringList>
#include <QUrl>

namespace {

QList<QByteArray> splitFields(const QByteArray& line)
{
    QList<QByteArray> fields(1);
    for (qsizetype i = 0; i < line.size(); ++i) {
        const char c = line.at(i);
        if (c == '\t') {
            fields.append(QByteArray());
        } else if (c == '\\' && i + 1 < line.size()) {
            const char escaped = line.at(++i);
            fields.last().append(escaped == 't'   ? '\t'
                                 : escaped == 'n' ? '\n'
                                 : escaped == 'r' ? '\r'
                                                  : escaped);
        } else if (c != '\r') {
            fields.last().append(c);
        }
    }
    return fields;
}

QByteArray escaped(const QString& value)
{
    QByteArray out;
    const QByteArray utf8 = value.toUtf8();
    for (const char c : utf8) {
        switch (c) {
        case '\\':
            out += "\\\\";
            break;
        case '\t':
            out += "\\t";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\r':
            out += "\\r";
            break;
        default:
            out += c;
        }
    }
    return out;
}

QByteArray line(const QList<QByteArray>& fields)
{
    QByteArray out = fields.join('\t');
    out.append('\n');
    return out;
}

bool number(const QByteArray& text, quint64* value)
{
    bool ok = false;
    *value = text.toULongLong(&ok);
    return ok && !text.startsWith('+') && !text.startsWith(' ');
}

QString text(const QList<QByteArray>& fields, qsizetype index)
{
    return index < fields.size() ? QString::fromUtf8(fields.at(index)) : QString();
}

} // namespace

void EngineChannel::feed(const QByteArray& bytes)
{
    qsizetype start = 0;
    while (start < bytes.size()) {
        const qsizetype end = bytes.indexOf('\n', start);
        const qsizetype stop = end < 0 ? bytes.size() : end;
        if (!m_skipping) {
            m_line.append(bytes.constData() + start, stop - start);
            if (m_line.size() >= maxLineBytes) {
                m_line.clear();
                m_skipping = true;
            }
        }
        if (end < 0)
            break;
        if (!m_skipping && !m_line.isEmpty())
            handleLine(m_line);
        m_line.clear();
        m_skipping = false;
        start = end + 1;
    }
}

QList<EngineChannel::Event> EngineChannel::takeEvents()
{
    QList<Event> events;
    events.swap(m_events);
    return events;
}

void EngineChannel::handleLine(const QByteArray& bytes)
{
    const QList<QByteArray> fields = splitFields(bytes);
    const QByteArray& name = fields.first();
    Event event;
    if (name == "hello") {
        bool ok = false;
        const int engineVersion = fields.value(1).toInt(&ok);
        if (!ok || engineVersion < 1 || m_version != 0)
            return;
        m_version = qMin(engineVersion, protocolVersion);
        event.kind = Event::Kind::Hello;
        event.version = m_version;
        event.name = text(fields, 2);
        m_events.append(event);
        return;
    }
    // An engine that never said hello speaks some other protocol.
    if (m_version == 0)
        return;
    if (name == "state") {
        static const QStringList known = {QStringLiteral("connecting"), QStringLiteral("connected"),
                                          QStringLiteral("reconnecting"), QStringLiteral("exiting")};
        event.kind = Event::Kind::State;
        event.name = text(fields, 1);
        event.detail = text(fields, 2);
        if (!known.contains(event.name))
            return;
    } else if (name == "bytes") {
        event.kind = Event::Kind::Bytes;
        if (fields.size() < 3 || !number(fields.at(1), &event.bytesIn) ||
            !number(fields.at(2), &event.bytesOut))
            return;
    } else if (name == "failure") {
        event.kind = Event::Kind::Failure;
        event.name = text(fields, 1);
        event.detail = text(fields, 2);
        if (event.name.isEmpty())
            return;
    } else if (name == "input") {
        event.kind = Event::Kind::Input;
        event.name = text(fields, 1);
        event.detail = text(fields, 2);
        event.prompt = text(fields, 3);
        event.flag = text(fields, 4);
        if (event.name.isEmpty())
            return;
        static const QStringList kinds = {QStringLiteral("username"), QStringLiteral("password"),
                                          QStringLiteral("otp"), QStringLiteral("login")};
        if (!kinds.contains(event.detail))
            event.detail = QStringLiteral("text");
    } else if (name == "url") {
        // Only what a browser should open: never a file, a program or a custom scheme.
        const QUrl url(text(fields, 1), QUrl::StrictMode);
        if (!url.isValid() ||
            (url.scheme() != QLatin1String("https") && url.scheme() != QLatin1String("http")) ||
            url.host().isEmpty())
            return;
        event.kind = Event::Kind::OpenUrl;
        event.name = url.toString();
    } else {
        return;
    }
    m_events.append(event);
}

QByteArray EngineChannel::hello()
{
    return line({QByteArrayLiteral("hello"), QByteArray::number(protocolVersion)});
}

QByteArray EngineChannel::answer(const QString& id, const QString& value)
{
    return line({QByteArrayLiteral("answer"), escaped(id), escaped(value)});
}

QByteArray EngineChannel::answer(const QString& id, const QStringList& values)
{
    QList<QByteArray> fields{QByteArrayLiteral("answer"), escaped(id)};
    for (const QString& value : values)
        fields.append(escaped(value));
    return line(fields);
}

QByteArray EngineChannel::cancel(const QString& id)
{
    return line({QByteArrayLiteral("cancel"), escaped(id)});
}
