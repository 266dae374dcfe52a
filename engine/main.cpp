#include "backend.h"
#include "channel.h"
#include "conf.h"
#include "engine_choice.h"
#include "env.h"
#include "log.h"
#include "options.h"
#include "parent_watch.h"
#include "stop_signal.h"

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#ifndef _WIN32
#include <unistd.h>
#endif

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#include <windows.h>
// After windows.h, which it depends on.
#include <shellapi.h>
#endif

namespace {

// The Windows argv is in the ANSI code page, which cannot carry every password or path; the wide
// command line can.
std::vector<std::string> commandLine(int argc, char** argv)
{
    std::vector<std::string> args;
#ifdef _WIN32
    (void)argc;
    (void)argv;
    int count = 0;
    wchar_t** wide = CommandLineToArgvW(GetCommandLineW(), &count);
    for (int i = 1; wide && i < count; ++i) {
        const int size = WideCharToMultiByte(CP_UTF8, 0, wide[i], -1, nullptr, 0, nullptr, nullptr);
        std::string arg(size > 0 ? size - 1 : 0, '\0');
        WideCharToMultiByte(CP_UTF8, 0, wide[i], -1, arg.data(), size, nullptr, nullptr);
        args.push_back(arg);
    }
    LocalFree(wide);
#else
    args.assign(argv + 1, argv + argc);
#endif
    return args;
}

// The manager hands the password or PIN over on the command line, which any local user can read in
// /proc/PID/cmdline for as long as the engine runs. The arguments have been copied by now; the
// originals are overwritten in place, which is what /proc shows.
void hideSecrets(int argc, char** argv)
{
#ifdef _WIN32
    (void)argc;
    (void)argv;
#else
    const std::size_t prefixSize = std::strlen(kTokenEnginePrefix);
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--keypass") == 0 && i + 1 < argc) {
            ++i;
            std::memset(argv[i], '*', std::strlen(argv[i]));
        } else if (std::strncmp(argv[i], kTokenEnginePrefix, prefixSize) == 0) {
            std::memset(argv[i] + prefixSize, '*', std::strlen(argv[i] + prefixSize));
        }
    }
#endif
}

void usage(Logger& log)
{
    log.line("Usage: qlumar_openvpn --config FILE --dev tun --float --pull --tls-client --keypass PASSWORD");
    log.line("   or: qlumar_openvpn --config FILE --dev tun --float --pull --tls-client --engkey --engine " +
             std::string(kTokenEnginePrefix) + "PIN");
}

int runEngine(int argc, char** argv, Logger& log);

} // namespace

int main(int argc, char** argv)
{
    // Fully buffered with explicit flushes: one write per log line, and large blocks when flooding.
    std::setvbuf(stdout, nullptr, _IOFBF, 1 << 16);
    Logger log(stdout);
    Channel::open(log);
    const int code = runEngine(argc, argv, log);
    Channel::finish(code, log.lastError());
    return code;
}

namespace {

int runEngine(int argc, char** argv, Logger& log)
{
#ifdef _WIN32
    const long startParent = 0;
    // Keep LF line ends: the manager splits the output on '\n' alone.
    _setmode(_fileno(stdout), _O_BINARY);
#else
    const long startParent = static_cast<long>(::getppid());
#endif
    const std::vector<std::string> args = commandLine(argc, argv);
    hideSecrets(argc, argv);

    std::string error;
    if (!StopSignal::install(&error)) {
        log.fatal("Error: cannot install signal handlers: " + error);
        return 1;
    }
    if (!ParentWatch::start(startParent, &error)) {
        log.fatal("Error: " + error);
        return 1;
    }

    long long startDelayMs = 0;
    if (!envNumber("QLUMAR_ENGINE_START_DELAY_MS", 0, &startDelayMs, &error)) {
        log.fatal(error);
        return 1;
    }
    const std::string signal = StopSignal::wait(std::chrono::milliseconds(startDelayMs));
    if (!signal.empty()) {
        log.line(signal + "[hard,] received, process exiting");
        return 0;
    }

    const ParseResult parsed = parseArguments(args);
    if (!parsed.ok) {
        log.line("Options error: " + parsed.error);
        usage(log);
        return 1;
    }
    const Options& options = parsed.options;

    log.line("OpenVPN-compatible qLumar engine " QLUMAR_ENGINE_VERSION " starting");
    const EngineChoice engine = chooseEngine();
    if (!engine.error.empty()) {
        log.fatal(engine.error);
        return 1;
    }
    const bool simulate = engine.kind == EngineChoice::Kind::Simulator;
    // A real OpenVPN gets the flags the engine does not know itself.
    for (const std::string& ignored : simulate ? options.ignored : std::vector<std::string>())
        log.line("WARNING: ignoring unsupported option: " + ignored);

    const ConfResult conf = readConf(options.configFile);
    if (!conf.ok) {
        for (const std::string& message : conf.errors)
            log.line("Options error: " + message);
        log.line("Exiting due to fatal error");
        return 1;
    }
    if (!conf.conf.name.empty())
        log.line("Profile: " + conf.conf.name);

    const auto backend = simulate                                     ? makeSimulatorBackend()
                         : engine.kind == EngineChoice::Kind::Service ? makeServiceBackend()
                                                                      : makeOpenVpnBackend(engine.program);
    return backend->run(options, conf.conf, log);
}

} // namespace
