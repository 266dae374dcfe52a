#include "conf_text.h"

#include <sstream>
#include <string_view>

std::vector<std::string> confLines(const std::string& text)
{
    std::vector<std::string> lines;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        lines.push_back(line);
    }
    if (!lines.empty() && lines[0].compare(0, 3, "\xEF\xBB\xBF") == 0)
        lines[0].erase(0, 3);
    return lines;
}

bool InlineBlocks::take(const std::string& line)
{
    const auto first = line.find_first_not_of(" \t\r");
    const auto last = line.find_last_not_of(" \t\r");
    const std::string text =
        first == std::string::npos ? std::string() : line.substr(first, last - first + 1);
    if (!m_open.empty()) {
        if (text == "</" + m_open + ">")
            m_open.clear();
        return true;
    }
    if (text.size() > 2 && text.front() == '<' && text.back() == '>' && text[1] != '/') {
        m_open = text.substr(1, text.size() - 2);
        return true;
    }
    return false;
}

std::vector<std::string> splitWords(const std::string& text, WordRules rules)
{
    const bool openVpn = rules == WordRules::OpenVpn;
    const std::string_view separators = openVpn ? " \t\r\n\f\v" : " \t\r";
    std::vector<std::string> words;
    std::string word;
    bool inWord = false;
    bool backslash = false;
    char quote = 0;
    for (char c : text) {
        if (backslash) {
            word += c;
            backslash = false;
            inWord = true;
        } else if (quote) {
            if (c == quote) {
                quote = 0;
            } else if (openVpn && c == '\\' && quote == '"') {
                backslash = true;
            } else {
                word += c;
            }
        } else if (openVpn && c == '\\') {
            backslash = true;
        } else if (c == '"' || c == '\'') {
            quote = c;
            inWord = true;
        } else if (separators.find(c) != std::string_view::npos) {
            if (inWord) {
                words.push_back(word);
                word.clear();
                inWord = false;
            }
        } else if (openVpn && !inWord && (c == '#' || c == ';')) {
            break;
        } else {
            word += c;
            inWord = true;
        }
    }
    if (inWord)
        words.push_back(word);
    return words;
}

std::string quoteAlways(const std::string& value)
{
    std::string quoted = "\"";
    for (char c : value) {
        if (c == '\\' || c == '"')
            quoted += '\\';
        quoted += c;
    }
    return quoted + '"';
}
