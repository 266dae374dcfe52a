#include "channel_protocol.h"

#include "credentials.h"

namespace ChannelProtocol {

namespace {

bool contains(const std::string& text, const char* part)
{
    return text.find(part) != std::string::npos;
}

std::vector<std::string> split(const std::string& line)
{
    std::vector<std::string> fields(1);
    for (std::size_t i = 0; i < line.size(); ++i) {
        const char c = line[i];
        if (c == '\t') {
            fields.emplace_back();
        } else if (c == '\\' && i + 1 < line.size()) {
            const char escaped = line[++i];
            fields.back() += escaped == 't' ? '\t' : escaped == 'n' ? '\n' : escaped == 'r' ? '\r' : escaped;
        } else if (c != '\r') {
            fields.back() += c;
        }
    }
    return fields;
}

} // namespace

std::string encode(const std::vector<std::string>& fields)
{
    std::string line;
    for (std::size_t i = 0; i < fields.size(); ++i) {
        if (i > 0)
            line += '\t';
        for (const char c : fields[i]) {
            // Leave room for the widest escape and the line end.
            if (line.size() + 3 > kMaxLine)
                break;
            switch (c) {
            case '\\':
                line += "\\\\";
                break;
            case '\t':
                line += "\\t";
                break;
            case '\n':
                line += "\\n";
                break;
            case '\r':
                line += "\\r";
                break;
            default:
                line += c;
            }
        }
    }
    line += '\n';
    return line;
}

void Reader::feed(const char* data, std::size_t size)
{
    for (std::size_t i = 0; i < size; ++i) {
        const char c = data[i];
        if (c == '\n') {
            if (!m_skipping && !m_line.empty())
                m_messages.push_back(split(m_line));
            m_line.clear();
            m_skipping = false;
        } else if (!m_skipping) {
            m_line += c;
            if (m_line.size() >= kMaxLine) {
                m_line.clear();
                m_skipping = true;
            }
        }
    }
}

bool Reader::next(std::vector<std::string>* fields)
{
    if (m_taken >= m_messages.size()) {
        m_messages.clear();
        m_taken = 0;
        return false;
    }
    *fields = std::move(m_messages[m_taken++]);
    return true;
}

std::string failureCode(const std::string& errorLine)
{
    if (contains(errorLine, kWrongSecretMessage))
        return "wrong-password";
    if (contains(errorLine, "QLUMAR_PKCS11_MODULE") || contains(errorLine, "PKCS#11 module"))
        return "no-pkcs11-module";
    if (contains(errorLine, "certificate") && contains(errorLine, "has expired"))
        return "certificate-expired";
    if (contains(errorLine, "Cannot resolve") || contains(errorLine, "unreachable"))
        return "server-unreachable";
    if (contains(errorLine, "AUTH_FAILED"))
        return "auth-failed";
    if (contains(errorLine, "Options error") || contains(errorLine, "refused"))
        return "config-refused";
    return "engine-error";
}

} // namespace ChannelProtocol
