#include "authority.h"
#include "dns_link_setup.h"
#include "service_main.h"
#include "tunnel_connection.h"

int main(int argc, char** argv)
{
    return runTunnelService(argc, argv, std::make_unique<PolkitAuthority>(),
                            [](const ServiceSettings& settings) {
                                return std::make_unique<DnsLinkSetup>(settings.tunnelHook, settings.group,
                                                                      QDBusConnection::systemBus());
                            });
}
