#include "options.h"

#include <map>

namespace {

struct KnownFlag
{
    const char* name;
    int arity;
};

// The flags the manager sends; anything else is tolerated but reported, since a later backend may
// pass extra flags through to a real engine.
constexpr KnownFlag kKnown[] = {
    {"--config", 1},     {"--dev", 1},    {"--float", 0},  {"--pull", 0},
    {"--tls-client", 0}, {"--engkey", 0}, {"--engine", 1}, {"--keypass", 1},
};

// Flags that every accepted command line carries, whichever the credential shape.
constexpr const char* kRequired[] = {"--config", "--dev", "--float", "--pull", "--tls-client"};

const KnownFlag* findKnown(const std::string& name)
{
    for (const KnownFlag& flag : kKnown) {
        if (name == flag.name)
            return &flag;
    }
    return nullptr;
}

bool isFlag(const std::string& arg)
{
    return arg.size() > 2 && arg.compare(0, 2, "--") == 0;
}

ParseResult failure(const std::string& error)
{
    ParseResult result;
    result.error = error;
    return result;
}

} // namespace

ParseResult parseArguments(const std::vector<std::string>& args)
{
    std::map<std::string, std::string> given;
    std::vector<std::string> ignored;
    std::vector<std::string> extra;

    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (!isFlag(arg))
            return failure("Unexpected argument '" + arg + "'");
        const KnownFlag* known = findKnown(arg);
        if (!known) {
            // Without knowing its arity, treat everything up to the next flag as its parameters.
            std::string text = arg;
            extra.push_back(arg);
            while (i + 1 < args.size() && !isFlag(args[i + 1])) {
                text += ' ' + args[++i];
                extra.push_back(args[i]);
            }
            ignored.push_back(text);
            continue;
        }
        if (given.count(arg))
            return failure("Option " + arg + " given more than once");
        std::string value;
        if (known->arity == 1) {
            // The value is taken verbatim, even if it looks like a flag: passwords may start with "--".
            if (i + 1 >= args.size())
                return failure("Option " + arg + " needs a parameter");
            value = args[++i];
        }
        given[arg] = value;
    }

    for (const char* name : kRequired) {
        if (!given.count(name))
            return failure(std::string("Missing required option ") + name);
    }

    ParseResult result;
    Options& options = result.options;
    options.configFile = given["--config"];
    options.device = given["--dev"];
    options.ignored = ignored;
    options.extra = extra;
    if (options.configFile.empty())
        return failure("Option --config needs a file name");
    if (options.device != "tun")
        return failure("Unsupported device type '" + options.device + "': only --dev tun is supported");

    const bool keypass = given.count("--keypass") != 0;
    const bool engkey = given.count("--engkey") != 0;
    const bool engine = given.count("--engine") != 0;
    if (keypass && (engkey || engine))
        return failure("Options --keypass and --engkey/--engine cannot be used together");
    if (keypass) {
        options.credentials = CredentialKind::Pkcs12Password;
        options.secret = given["--keypass"];
    } else if (engkey && engine) {
        const std::string engineArg = given["--engine"];
        const std::string prefix = kTokenEnginePrefix;
        if (engineArg.compare(0, prefix.size(), prefix) != 0)
            return failure("Unsupported engine '" + engineArg + "': expected " + prefix + "PIN");
        options.credentials = CredentialKind::TokenPin;
        options.secret = engineArg.substr(prefix.size());
    } else if (engkey) {
        return failure("Option --engkey needs --engine " + std::string(kTokenEnginePrefix) + "PIN");
    } else if (engine) {
        return failure("Option --engine needs --engkey");
    } else {
        return failure("No private key credentials: use --keypass PASSWORD or --engkey --engine " +
                       std::string(kTokenEnginePrefix) + "PIN");
    }

    result.ok = true;
    return result;
}
