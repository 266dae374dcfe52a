#include "openvpn_conf.h"

#include "conf.h"
#include "conf_text.h"

namespace {

const char* const kMarker = "# [qlumar_openvpn] ";

struct Dropped
{
    const char* keyword;
    const char* reason;
};

// Directives that would take OpenVPN out of the manager's reach.
constexpr Dropped kDropped[] = {
    {"daemon", "OpenVPN has to stay in the foreground, as the engine's child"},
    {"log", "the manager shows OpenVPN's output"},
    {"log-append", "the manager shows OpenVPN's output"},
    {"syslog", "the manager shows OpenVPN's output"},
    {"askpass", "the password comes from the manager"},
};

bool startsWith(const std::string& text, const std::string& prefix)
{
    return text.compare(0, prefix.size(), prefix) == 0;
}

const char* dropReason(const std::string& keyword, CredentialKind kind)
{
    for (const Dropped& entry : kDropped) {
        if (keyword == entry.keyword)
            return entry.reason;
    }
    if (startsWith(keyword, "management"))
        return "the engine talks to OpenVPN through a management interface of its own";
    if (kind == CredentialKind::TokenPin) {
        if (startsWith(keyword, "pkcs11-"))
            return "the token and its key come from QLUMAR_PKCS11_MODULE and the profile's key line";
        if (keyword == "pkcs12")
            return "a token profile takes its certificate and key from the token";
    }
    return nullptr;
}

bool needsQuoting(const std::string& value)
{
    return value.empty() || value.find_first_of(" \t\"'\\#;") != std::string::npos;
}

struct Line
{
    std::string keyword;
    std::string rest; // trimmed, quotes kept
};

// Comment and blank lines have no keyword.
Line parseLine(const std::string& raw)
{
    Line line;
    const std::string text = trimBlanks(raw);
    if (text.empty() || text[0] == '#' || text[0] == ';')
        return line;
    const auto end = text.find_first_of(" \t");
    line.keyword = text.substr(0, end);
    if (end != std::string::npos)
        line.rest = trimBlanks(text.substr(end));
    return line;
}

} // namespace

std::string quoteParam(const std::string& value)
{
    if (!needsQuoting(value))
        return value;
    return quoteAlways(value);
}

OpenVpnConf translateConf(const std::string& text, const std::string& path, CredentialKind kind)
{
    const std::vector<std::string> lines = confLines(text);

    // Like OpenVPN, a port given by rport serves every remote without a port of its own; the last
    // rport counts. Inline blocks hold no directives.
    std::string rport;
    InlineBlocks blocks;
    for (const std::string& raw : lines) {
        if (blocks.take(raw))
            continue;
        const Line line = parseLine(raw);
        if (line.keyword == "rport" && !splitParams(line.rest).empty())
            rport = splitParams(line.rest)[0];
    }

    OpenVpnConf result;
    std::string out;
    blocks = InlineBlocks();
    int number = 0;
    for (const std::string& raw : lines) {
        ++number;
        std::string translated = raw;
        if (blocks.take(raw)) {
            // copied as it is
        } else {
            const Line line = parseLine(raw);
            const std::string& keyword = line.keyword;
            const bool token = kind == CredentialKind::TokenPin;
            if (keyword.empty()) {
                // comment or blank
            } else if (const char* reason = dropReason(keyword, kind)) {
                translated = kMarker + raw;
                result.warnings.push_back("WARNING: " + path + ":" + std::to_string(number) + ": '" +
                                          keyword + "' is not passed to OpenVPN: " + reason);
            } else if (keyword == "rport" || (token && (keyword == "key" || keyword == "cert"))) {
                translated = kMarker + raw;
            } else if (keyword == "remote") {
                const std::vector<std::string> params = splitParams(line.rest);
                if (params.size() == 1 && !rport.empty())
                    translated = "remote " + quoteParam(params[0]) + " " + quoteParam(rport);
            } else if (keyword == "ca" || keyword == "cert" || keyword == "key" || keyword == "pkcs12") {
                // Values the user quoted are in OpenVPN's syntax already; the manager's own are literal.
                const bool quoted = !line.rest.empty() && (line.rest[0] == '"' || line.rest[0] == '\'');
                if (!quoted && needsQuoting(line.rest))
                    translated = keyword + " " + quoteParam(line.rest);
            }
        }
        out += translated;
        out += '\n';
    }
    result.text = out;
    return result;
}
