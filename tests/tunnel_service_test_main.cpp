// The tunnel service as the tests run it: everything as shipped except the authority, which allows
// every caller but the uids listed in TEST_DENIED_UIDS (comma-separated), after
// TEST_AUTHORITY_DELAY_MS (a user taking their time over a polkit dialog).
#include "authority.h"
#include "dns_link_setup.h"
#include "service_main.h"
#include "tunnel_connection.h"

#include <QStringList>
#include <QTimer>

namespace {

class FakeAuthority : public Authority
{
public:
    void check(const QString&, uint uid, const QString&, Reply reply) override
    {
        const QStringList denied = qEnvironmentVariable("TEST_DENIED_UIDS").split(u',', Qt::SkipEmptyParts);
        const bool allowed = !denied.contains(QString::number(uid));
        QTimer::singleShot(qEnvironmentVariableIntValue("TEST_AUTHORITY_DELAY_MS"), [reply, allowed] {
            reply(allowed, allowed ? QString() : QStringLiteral("not authorized by the test authority"));
        });
    }
};

} // namespace

int main(int argc, char** argv)
{
    return runTunnelService(argc, argv, std::make_unique<FakeAuthority>(),
                            [](const ServiceSettings& settings) {
                                return std::make_unique<DnsLinkSetup>(settings.tunnelHook, settings.group,
                                                                      QDBusConnection::systemBus());
                            });
}
