#pragma once

#include <string>
#include <vector>

// The private key credentials come in exactly one of two shapes, matching the two kinds of profile.
enum class CredentialKind {
    Pkcs12Password, // --keypass PASSWORD
    TokenPin,       // --engkey --engine dudidudovi:user_pin:PIN
};

struct Options
{
    std::string configFile;
    std::string device;
    CredentialKind credentials = CredentialKind::Pkcs12Password;
    std::string secret;               // the PKCS#12 password or the token's user PIN
    std::vector<std::string> ignored; // unknown flags, each with its parameters, for log lines
    std::vector<std::string> extra;   // the same flags and parameters as separate arguments
};

struct ParseResult
{
    bool ok = false;
    Options options;
    std::string error;
};

// The token engine name is fixed; the PIN follows it and may be empty.
inline constexpr const char* kTokenEnginePrefix = "dudidudovi:user_pin:";

ParseResult parseArguments(const std::vector<std::string>& args);
