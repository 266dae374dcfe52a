#include "authority.h"
#include "service_main.h"

int main(int argc, char** argv)
{
    return runTunnelService(argc, argv, std::make_unique<PolkitAuthority>(),
                            [] { return std::make_unique<NoLinkSetup>(); });
}
