#include "authority.h"

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusVariant>

namespace {

// (sa{sv}): polkit's subject.
struct Subject
{
    QString kind;
    QVariantMap details;
};

QDBusArgument& operator<<(QDBusArgument& argument, const Subject& subject)
{
    argument.beginStructure();
    argument << subject.kind << subject.details;
    argument.endStructure();
    return argument;
}

const QDBusArgument& operator>>(const QDBusArgument& argument, Subject& subject)
{
    argument.beginStructure();
    argument >> subject.kind >> subject.details;
    argument.endStructure();
    return argument;
}

// (bba{ss}): is_authorized, is_challenge, details.
struct Result
{
    bool authorized = false;
    bool challenge = false;
    QMap<QString, QString> details;
};

QDBusArgument& operator<<(QDBusArgument& argument, const Result& result)
{
    argument.beginStructure();
    argument << result.authorized << result.challenge << result.details;
    argument.endStructure();
    return argument;
}

const QDBusArgument& operator>>(const QDBusArgument& argument, Result& result)
{
    argument.beginStructure();
    argument >> result.authorized >> result.challenge >> result.details;
    argument.endStructure();
    return argument;
}

} // namespace

Q_DECLARE_METATYPE(Subject)
Q_DECLARE_METATYPE(Result)

void PolkitAuthority::check(const QString& busName, uint, const QString& actionId, Reply reply)
{
    static const bool registered = [] {
        qDBusRegisterMetaType<Subject>();
        qDBusRegisterMetaType<Result>();
        qDBusRegisterMetaType<QMap<QString, QString>>();
        return true;
    }();
    (void)registered;

    Subject subject{QStringLiteral("system-bus-name"), {{QStringLiteral("name"), busName}}};
    QDBusMessage call = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.PolicyKit1"), QStringLiteral("/org/freedesktop/PolicyKit1/Authority"),
        QStringLiteral("org.freedesktop.PolicyKit1.Authority"), QStringLiteral("CheckAuthorization"));
    constexpr uint kAllowUserInteraction = 1;
    call << QVariant::fromValue(subject) << actionId << QVariant::fromValue(QMap<QString, QString>())
         << kAllowUserInteraction << QString();
    // The user may take a while to type an administrator password.
    constexpr int kTimeoutMs = 5 * 60 * 1000;
    auto* watcher = new QDBusPendingCallWatcher(QDBusConnection::systemBus().asyncCall(call, kTimeoutMs));
    QObject::connect(
        watcher, &QDBusPendingCallWatcher::finished, watcher, [reply](QDBusPendingCallWatcher* w) {
            w->deleteLater();
            const QDBusPendingReply<Result> answer = *w;
            if (answer.isError()) {
                reply(false, QStringLiteral("polkit could not decide: %1").arg(answer.error().message()));
                return;
            }
            const Result result = answer.value();
            reply(result.authorized,
                  result.authorized ? QString() : QStringLiteral("not authorized by polkit"));
        });
}
