#include "engine_choice.h"

#include "env.h"
#include "paths.h"

#include <vector>

#ifndef _WIN32
#include <unistd.h>
#endif

namespace {

bool isExecutable(const std::string& path)
{
#ifdef _WIN32
    return isRegularFile(path);
#else
    return isRegularFile(path) && ::access(path.c_str(), X_OK) == 0;
#endif
}

std::vector<std::string> searchDirs()
{
    std::vector<std::string> dirs;
#ifdef _WIN32
    const char separator = ';';
#else
    const char separator = ':';
#endif
    const std::string path = envValue("PATH").value_or(std::string());
    std::string::size_type start = 0;
    while (start <= path.size()) {
        const auto end = path.find(separator, start);
        const std::string dir =
            path.substr(start, end == std::string::npos ? std::string::npos : end - start);
        // An empty PATH element means the current directory; the profile's directory is no place to
        // pick up a program from.
        if (!dir.empty())
            dirs.push_back(dir);
        if (end == std::string::npos)
            break;
        start = end + 1;
    }
#ifndef _WIN32
    for (const char* dir : {"/usr/local/sbin", "/usr/sbin", "/sbin"})
        dirs.emplace_back(dir);
#endif
    return dirs;
}

std::string findProgram(const std::string& name)
{
#ifdef _WIN32
    const std::string fileName = name + ".exe";
#else
    const std::string& fileName = name;
#endif
    for (const std::string& dir : searchDirs()) {
        const std::string candidate = dir + "/" + fileName;
        if (isExecutable(candidate))
            return candidate;
    }
    return {};
}

bool hasDirectory(const std::string& name)
{
    return name.find('/') != std::string::npos || name.find('\\') != std::string::npos;
}

} // namespace

EngineChoice chooseEngine()
{
    EngineChoice choice;
    const auto engine = envValue("QLUMAR_ENGINE");
    const auto openvpn = envValue("QLUMAR_OPENVPN");
    if (engine && *engine == "simulator")
        return choice;
    if (engine && *engine != "openvpn") {
        choice.error = "Invalid value for QLUMAR_ENGINE: '" + *engine + "' (expected simulator or openvpn)";
        return choice;
    }

    choice.kind = EngineChoice::Kind::OpenVpn;
    if (!openvpn) {
#ifndef _WIN32
        // Only root can make a tun device; everyone else asks the tunnel service to run OpenVPN.
        if (::geteuid() != 0) {
            choice.kind = EngineChoice::Kind::Service;
            return choice;
        }
#endif
        choice.program = findProgram("openvpn");
        if (choice.program.empty()) {
            choice.error = "Error: OpenVPN is not installed: no openvpn program in PATH, /usr/local/sbin, "
                           "/usr/sbin or /sbin; install it (Debian: apt-get install openvpn), set "
                           "QLUMAR_OPENVPN to its path, or QLUMAR_ENGINE=simulator for the simulator";
        }
        return choice;
    }
    choice.program = hasDirectory(*openvpn) ? *openvpn : findProgram(*openvpn);
    if (choice.program.empty() || !isExecutable(choice.program))
        choice.error = "Error: QLUMAR_OPENVPN='" + *openvpn + "' is not an executable program";
    return choice;
}
