#pragma once

#include "conf.h"
#include "log.h"
#include "options.h"

#include <memory>
#include <string>

// Carries one connection from start to end. The engine's front end has already checked the command
// line and read the configuration; a backend owns everything after that, including how long the
// process stays up. Its return value is the process exit code.
class Backend
{
public:
    virtual ~Backend() = default;
    virtual int run(const Options& options, const Conf& conf, Logger& log) = 0;
};

// Simulates a server connection: checks the profile's files and private key credentials for real,
// then pretends to connect.
std::unique_ptr<Backend> makeSimulatorBackend();

// Runs a real OpenVPN 2.x (Linux): translates the profile and the credentials into what OpenVPN accepts,
// passes its output through untouched and ends with it. program is the OpenVPN executable.
std::unique_ptr<Backend> makeOpenVpnBackend(const std::string& program);

// Runs a real OpenVPN through the qLumar tunnel service on the system bus, for an engine that is not
// root: the service starts OpenVPN as root, the engine answers its management interface as before.
std::unique_ptr<Backend> makeServiceBackend();
