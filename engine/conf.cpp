#include "conf.h"

#include "conf_text.h"
#include "paths.h"

namespace {

const char* const kBlanks = " \t\r";

std::string trim(const std::string& text)
{
    const auto first = text.find_first_not_of(kBlanks);
    if (first == std::string::npos) {
        return {};
    }
    return text.substr(first, text.find_last_not_of(kBlanks) - first + 1);
}

// Paths and key labels may contain blanks and the manager does not quote every one of them, so
// such values are the whole rest of the line rather than the first word.
std::string unquote(const std::string& text)
{
    if (text.size() >= 2 && (text.front() == '"' || text.front() == '\'') && text.back() == text.front())
        return text.substr(1, text.size() - 2);
    return text;
}

bool parsePort(const std::string& text, int* port)
{
    if (text.empty() || text.size() > 5 || text.find_first_not_of("0123456789") != std::string::npos)
        return false;
    const int value = std::stoi(text);
    if (value < 1 || value > 65535)
        return false;
    *port = value;
    return true;
}

} // namespace

std::string trimBlanks(const std::string& text)
{
    return trim(text);
}

std::vector<std::string> splitParams(const std::string& text)
{
    return splitWords(text, WordRules::Plain);
}

ConfResult parseConf(const std::string& text, const std::string& path)
{
    ConfResult result;
    Conf& conf = result.conf;
    conf.path = path;

    int lineNumber = 0;
    bool haveRport = false;
    for (const std::string& raw : confLines(text)) {
        ++lineNumber;
        const std::string lineText = trim(raw);
        if (lineText.empty())
            continue;
        if (lineText[0] == '#' || lineText[0] == ';') {
            const std::string header = "qLumarVpnName";
            const std::string comment = trim(lineText.substr(1));
            if (comment.compare(0, header.size(), header) == 0)
                conf.name = trim(comment.substr(header.size()));
            continue;
        }

        Directive directive;
        directive.line = lineNumber;
        const auto end = lineText.find_first_of(kBlanks);
        directive.keyword = lineText.substr(0, end);
        if (end != std::string::npos) {
            directive.rest = unquote(trim(lineText.substr(end)));
            directive.params = splitParams(lineText.substr(end));
        }

        const std::string where = path + ":" + std::to_string(lineNumber) + ": ";
        const std::string& keyword = directive.keyword;
        if (keyword == "remote") {
            if (directive.params.empty()) {
                result.errors.push_back(where + "remote needs a host name");
            } else {
                conf.remote = directive.params[0];
                // A port on the remote line counts unless an rport line says otherwise.
                if (directive.params.size() > 1 && !haveRport &&
                    !parsePort(directive.params[1], &conf.port)) {
                    result.errors.push_back(where + "invalid port '" + directive.params[1] + "'");
                }
            }
        } else if (keyword == "rport") {
            const std::string value = directive.params.empty() ? std::string() : directive.params[0];
            if (!parsePort(value, &conf.port))
                result.errors.push_back(where + "invalid port '" + value + "'");
            haveRport = true;
        } else if (keyword == "ca" || keyword == "cert" || keyword == "key" || keyword == "pkcs12") {
            if (directive.rest.empty())
                result.errors.push_back(where + keyword + " needs a parameter");
            std::string& target = keyword == "ca"     ? conf.ca
                                  : keyword == "cert" ? conf.cert
                                  : keyword == "key"  ? conf.key
                                                      : conf.pkcs12;
            target = directive.rest;
        }
        conf.directives.push_back(std::move(directive));
    }

    if (conf.remote.empty() && result.errors.empty())
        result.errors.push_back(path + ": no remote host given (remote HOST)");
    result.ok = result.errors.empty();
    return result;
}

bool asksUserPassword(const Conf& conf)
{
    for (const Directive& directive : conf.directives) {
        if (directive.keyword == "auth-user-pass")
            return true;
    }
    return false;
}

ConfResult readConf(const std::string& path)
{
    ConfResult result;
    result.conf.path = path;
    if (!isRegularFile(path)) {
        result.errors.push_back("Error opening configuration file: " + path +
                                (pathExists(path) ? " (not a regular file)" : " (no such file)"));
        return result;
    }
    std::string text;
    if (!readFileText(path, &text)) {
        result.errors.push_back("Error opening configuration file: " + path);
        return result;
    }
    return parseConf(text, path);
}
