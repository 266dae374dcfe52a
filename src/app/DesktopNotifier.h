#pragma once

#include <QDBusConnection>
#include <QObject>
#include <QString>

#include <optional>

// Messages through the desktop's notification server (org.freedesktop.Notifications), for trays
// that are StatusNotifierItem hosts and for running without a tray. The toolkit's own balloons
// on such a tray put the icon into NeedsAttention with a stock picture for as long as the
// balloon lasts; these leave the tray icon alone. Each message replaces the previous one, so
// "Connected" takes the place of "Connecting" instead of piling up.
class DesktopNotifier : public QObject
{
    Q_OBJECT

public:
    explicit DesktopNotifier(const QDBusConnection& bus = QDBusConnection::sessionBus(),
                             QObject* parent = nullptr);

    // A notification server is on the bus now.
    bool isAvailable() const;

    void notify(const QString& title, const QString& text, int milliseconds);

    static constexpr const char* service = "org.freedesktop.Notifications";
    static constexpr const char* iconName = "qlumar-velkoro";

private:
    struct Message
    {
        QString title;
        QString text;
        int milliseconds = 0;
    };
    void send(const Message& message);

    QDBusConnection m_bus;
    uint m_shownId = 0;            // the server's id of the message on screen, 0 for none
    bool m_waiting = false;        // a Notify is on its way: its id is not known yet
    std::optional<Message> m_next; // sent when the answer comes, replacing that one
};
