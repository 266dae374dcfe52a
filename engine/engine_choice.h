#pragma once

#include <string>

// Which backend carries the connection, from the environment:
//  - QLUMAR_ENGINE=simulator: the simulator, whatever else is set;
//  - QLUMAR_ENGINE=openvpn: a real OpenVPN, the program QLUMAR_OPENVPN names or else the first "openvpn"
//    in PATH, then in /usr/local/sbin, /usr/sbin and /sbin (Debian keeps it in /usr/sbin, which is not
//    in an ordinary user's PATH);
//  - QLUMAR_ENGINE unset or empty: a real OpenVPN when QLUMAR_OPENVPN is set, the simulator otherwise.
// QLUMAR_OPENVPN is a path, or a bare name looked up like "openvpn" above. Any other QLUMAR_ENGINE value,
// or an OpenVPN that cannot be found or run, is an error rather than a silent fallback to the simulator.
struct EngineChoice
{
    enum class Kind {
        Simulator,
        OpenVpn,
    };
    Kind kind = Kind::Simulator;
    std::string program; // the OpenVPN program to run
    std::string error;   // set when the environment asks for something that cannot be had
};

EngineChoice chooseEngine();
