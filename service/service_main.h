#pragma once

#include "authority.h"
#include "link_setup.h"

#include <memory>

// The service program: command line, system bus, signals, idle exit. The shipped main passes the
// polkit authority.
int runTunnelService(int argc, char** argv, std::unique_ptr<Authority> authority, LinkSetupFactory linkSetup);
