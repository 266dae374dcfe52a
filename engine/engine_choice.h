#pragma once

#include <string>

// Which backend carries the connection, from the environment:
//  - QLUMAR_ENGINE=simulator: the simulator, whatever else is set;
//  - QLUMAR_ENGINE=openvpn: a real OpenVPN, the program QLUMAR_OPENVPN names or else the first "openvpn"
//    in PATH, then in /usr/local/sbin, /usr/sbin and /sbin (Debian keeps it in /usr/sbin, which is not
//    in an ordinary user's PATH);
//  - QLUMAR_ENGINE unset or empty: the same as openvpn.
// Without QLUMAR_OPENVPN an engine that is not root asks the tunnel service to run OpenVPN instead.
// QLUMAR_OPENVPN is a path, or a bare name looked up like "openvpn" above. Any other QLUMAR_ENGINE value,
// or an OpenVPN that cannot be found or run, is an error rather than a silent fallback to the simulator.
struct EngineChoice
{
    enum class Kind {
        Simulator,
        OpenVpn,
        Service,
    };
    Kind kind = Kind::Simulator;
    std::string program; // the OpenVPN program to run
    std::string error;   // set when the environment asks for something that cannot be had
};

EngineChoice chooseEngine();
