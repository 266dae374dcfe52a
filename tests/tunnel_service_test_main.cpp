// The tunnel service as the tests run it: everything as shipped except the authority, which allows
// every caller but the uids listed in TEST_DENIED_UIDS (comma-separated).
#include "authority.h"
#include "service_main.h"

#include <QStringList>

namespace {

class FakeAuthority : public Authority
{
public:
    void check(const QString&, uint uid, const QString&, Reply reply) override
    {
        const QStringList denied = qEnvironmentVariable("TEST_DENIED_UIDS").split(u',', Qt::SkipEmptyParts);
        if (denied.contains(QString::number(uid))) {
            reply(false, QStringLiteral("not authorized by the test authority"));
        } else {
            reply(true, QString());
        }
    }
};

} // namespace

int main(int argc, char** argv)
{
    return runTunnelService(argc, argv, std::make_unique<FakeAuthority>(),
                            [] { return std::make_unique<NoLinkSetup>(); });
}
