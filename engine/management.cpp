#include "management.h"
#include "conf_text.h"

#include <algorithm>
#include <cstdlib>

namespace {

const std::string kPasswordPrompt = "ENTER PASSWORD:";

// A token holds a handful of certificates; far more is a broken or hostile module, and each one costs
// a request.
constexpr long kMaxTokenIds = 1000;

bool startsWith(const std::string& text, const std::string& prefix)
{
    return text.compare(0, prefix.size(), prefix) == 0;
}

// The text between the first pair of single quotes after `from`, and where it ends.
std::string quoted(const std::string& line, std::string::size_type from,
                   std::string::size_type* end = nullptr)
{
    const auto open = line.find('\'', from);
    if (open == std::string::npos) {
        return {};
    }
    const auto close = line.find('\'', open + 1);
    if (close == std::string::npos) {
        return {};
    }
    if (end)
        *end = close + 1;
    return line.substr(open + 1, close - open - 1);
}

} // namespace

std::string managementQuote(const std::string& value)
{
    return quoteAlways(value);
}

std::string encodeBase64(const std::string& data)
{
    static const char alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    std::size_t i = 0;
    for (; i + 2 < data.size(); i += 3) {
        const unsigned value = (static_cast<unsigned char>(data[i]) << 16) |
                               (static_cast<unsigned char>(data[i + 1]) << 8) |
                               static_cast<unsigned char>(data[i + 2]);
        for (int shift = 18; shift >= 0; shift -= 6)
            out += alphabet[(value >> shift) & 63];
    }
    if (i < data.size()) {
        const bool two = i + 1 < data.size();
        const unsigned value = (static_cast<unsigned char>(data[i]) << 16) |
                               (two ? static_cast<unsigned char>(data[i + 1]) << 8 : 0U);
        out += alphabet[(value >> 18) & 63];
        out += alphabet[(value >> 12) & 63];
        out += two ? alphabet[(value >> 6) & 63] : '=';
        out += '=';
    }
    return out;
}

std::string decodeBase64(const std::string& text)
{
    static const std::string alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    unsigned bits = 0;
    int count = 0;
    for (char c : text) {
        if (c == '=')
            break;
        const auto value = alphabet.find(c);
        if (value == std::string::npos) {
            return {};
        }
        bits = (bits << 6) | static_cast<unsigned>(value);
        count += 6;
        if (count >= 8) {
            count -= 8;
            out += static_cast<char>((bits >> count) & 0xFF);
        }
    }
    return out;
}

Management::Management(CredentialKind kind, std::string password, std::string secret,
                       std::vector<std::string> certificates)
    : m_kind(kind), m_password(std::move(password)), m_secret(std::move(secret)),
      m_certificates(std::move(certificates))
{
}

void Management::feed(const std::string& data)
{
    m_input += data;
    if (!m_authenticated) {
        // The password prompt has no line end; wait until it is complete or cannot be one.
        if (m_input.size() < kPasswordPrompt.size() && startsWith(kPasswordPrompt, m_input))
            return;
        if (startsWith(m_input, kPasswordPrompt)) {
            m_input.erase(0, kPasswordPrompt.size());
            send(m_password);
        }
        m_authenticated = true;
    }
    // One erase for all complete lines: erasing line by line is quadratic in a large block.
    std::string::size_type start = 0;
    std::string::size_type end;
    // While the user is asked, what OpenVPN said after its request waits: it belongs after the answer.
    while (m_request.kind == UserRequest::Kind::None &&
           (end = m_input.find('\n', start)) != std::string::npos) {
        std::string line = m_input.substr(start, end - start);
        start = end + 1;
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        handleLine(line);
    }
    m_input.erase(0, start);
}

std::string Management::takeReply()
{
    std::string reply;
    reply.swap(m_reply);
    return reply;
}

std::vector<std::vector<std::string>> Management::takeEvents()
{
    std::vector<std::vector<std::string>> events;
    events.swap(m_events);
    return events;
}

std::vector<std::string> Management::takeNotes()
{
    std::vector<std::string> notes;
    notes.swap(m_notes);
    return notes;
}

void Management::send(const std::string& command)
{
    m_reply += command;
    m_reply += '\n';
}

void Management::handleLine(const std::string& line)
{
    if (startsWith(line, ">INFO:")) {
        // State changes tell when the token key has been used successfully.
        if (m_bytecountSeconds > 0 && !m_eventsAsked) {
            m_eventsAsked = true;
            send("state on");
            send("bytecount " + std::to_string(m_bytecountSeconds));
        } else if (m_kind == CredentialKind::TokenPin && !m_eventsAsked) {
            send("state on");
        }
        infoEvent(line);
    } else if (startsWith(line, ">INFOMSG:")) {
        infoEvent(line);
    } else if (startsWith(line, ">BYTECOUNT:")) {
        // >BYTECOUNT:IN,OUT
        const auto comma = line.find(',');
        if (m_bytecountSeconds > 0 && comma != std::string::npos) {
            const std::string in = line.substr(11, comma - 11);
            const std::string out = line.substr(comma + 1);
            const auto digits = [](const std::string& text) {
                return !text.empty() && text.size() <= 20 &&
                       text.find_first_not_of("0123456789") == std::string::npos;
            };
            if (digits(in) && digits(out)) {
                m_events.push_back({"bytes", in, out});
            }
        }
    } else if (startsWith(line, ">PASSWORD:")) {
        passwordRequest(line);
    } else if (startsWith(line, ">NEED-STR:Need 'pkcs11-id-request'")) {
        send("pkcs11-id-count");
    } else if (startsWith(line, ">NEED-STR:") || startsWith(line, ">NEED-OK:")) {
        // Unanswered, OpenVPN would wait for ever, and the connection with it.
        unanswerable(line);
    } else if (startsWith(line, ">PKCS11ID-COUNT:")) {
        m_idCount = std::strtol(line.c_str() + 16, nullptr, 10);
        m_ids.clear();
        if (m_idCount <= 0) {
            m_failure = "Error: OpenVPN finds no certificate in the PKCS#11 token";
        } else if (m_idCount > kMaxTokenIds) {
            m_failure = "Error: OpenVPN reports " + std::to_string(m_idCount) +
                        " certificates in the PKCS#11 token, more than the " + std::to_string(kMaxTokenIds) +
                        " qLumar Velkoro looks through";
            m_idCount = 0;
        }
        for (long i = 0; i < m_idCount; ++i)
            send("pkcs11-id-get " + std::to_string(i));
    } else if (startsWith(line, ">PKCS11ID-ENTRY:")) {
        pkcs11Entry(line);
    } else if (startsWith(line, ">STATE:")) {
        // >STATE:time,NAME,...: these states come only after a TLS handshake that used the key.
        const auto first = line.find(',');
        const std::string state = first == std::string::npos
                                      ? std::string()
                                      : line.substr(first + 1, line.find(',', first + 1) - first - 1);
        if (state == "GET_CONFIG" || state == "ASSIGN_IP" || state == "ADD_ROUTES" || state == "CONNECTED")
            m_secretUsed = true;
        stateEvent(line);
    } else if (startsWith(line, ">HOLD:")) {
        send("hold release");
    } else if (startsWith(line, "ERROR:")) {
        m_notes.push_back("OpenVPN management interface: " + line);
    }
}

void Management::passwordRequest(const std::string& line)
{
    // >PASSWORD:Need 'WHAT' password, >PASSWORD:Need 'Auth' username/password,
    // >PASSWORD:Verification Failed: 'WHAT'
    const std::string request = line.substr(10);
    if (startsWith(request, "Verification Failed:")) {
        std::string::size_type end = 0;
        if (quoted(request, 0, &end) == "Auth") {
            authFailed(request.substr(end));
            return;
        }
        if (m_secretSent)
            m_wrongSecret = true;
        return;
    }
    if (!startsWith(request, "Need '"))
        return;
    std::string::size_type end = 0;
    const std::string what = quoted(request, 0, &end);
    const std::string kind = request.substr(end);
    if (what == "Auth" && startsWith(kind, " username/password") && m_canAskUser) {
        authRequest(kind.substr(18));
        return;
    }
    if (!startsWith(kind, " password")) {
        m_failure = "Error: OpenVPN asks for '" + what + "'" +
                    (kind.find("username") != std::string::npos ? " (a user name and password)" : "") +
                    ", which qLumar Velkoro cannot supply; check the connection template";
        return;
    }
    if (m_kind == CredentialKind::TokenPin && m_secretSent && !m_secretUsed) {
        m_wrongSecret = true;
        return;
    }
    if (m_secret.find_first_of("\r\n") != std::string::npos) {
        // The interface is line based: such a secret cannot be passed on, and cannot be right either.
        m_wrongSecret = true;
        return;
    }
    send("password " + managementQuote(what) + " " + managementQuote(m_secret));
    m_secretSent = true;
    m_secretUsed = false;
}

void Management::authRequest(const std::string& request)
{
    // " SC:FLAGS,TEXT" after the request: a static challenge, asked after the password.
    m_challenge = UserRequest();
    m_staticChallenge = false;
    m_concatChallenge = false;
    const auto challengeAt = request.find("SC:");
    if (challengeAt != std::string::npos) {
        const auto comma = request.find(',', challengeAt);
        const long flags = std::strtol(request.c_str() + challengeAt + 3, nullptr, 10);
        m_staticChallenge = true;
        m_concatChallenge = (flags & 2) != 0;
        m_challenge.kind = UserRequest::Kind::Code;
        m_challenge.echo = (flags & 1) != 0;
        m_challenge.prompt = comma == std::string::npos ? std::string() : request.substr(comma + 1);
    }
    if (!m_crv1State.empty()) {
        // The answer to the server's dynamic challenge replaces the password, once.
        m_request = m_crv1Prompt;
        return;
    }
    m_request = UserRequest();
    m_request.kind = UserRequest::Kind::Login;
    m_request.rejected = m_loginRejected;
    m_loginRejected = false;
}

void Management::authFailed(const std::string& reason)
{
    // " ['CRV1:FLAGS:STATE_ID:BASE64_USERNAME:TEXT']": the server wants a code before it decides.
    const auto open = reason.find("['");
    const auto close = reason.rfind("']");
    const std::string text = open != std::string::npos && close != std::string::npos && close > open
                                 ? reason.substr(open + 2, close - open - 2)
                                 : std::string();
    if (startsWith(text, "CRV1:")) {
        std::vector<std::string> fields;
        std::string::size_type start = 5;
        for (int i = 0; i < 3; ++i) {
            const auto colon = text.find(':', start);
            if (colon == std::string::npos)
                break;
            fields.push_back(text.substr(start, colon - start));
            start = colon + 1;
        }
        if (fields.size() == 3 && !fields[1].empty()) {
            m_crv1State = fields[1];
            m_crv1User = decodeBase64(fields[2]);
            // OpenVPN asks for the username and password again; the code goes with that request.
            m_crv1Prompt = UserRequest();
            m_crv1Prompt.kind = UserRequest::Kind::Code;
            m_crv1Prompt.echo = fields[0].find('E') != std::string::npos;
            m_crv1Prompt.prompt = text.substr(start);
            return;
        }
    }
    m_loginRejected = true;
}

void Management::answerLogin(const std::string& username, const std::string& password)
{
    if (m_request.kind != UserRequest::Kind::Login)
        return;
    m_request = UserRequest();
    if ((username + password).find_first_of("\r\n") != std::string::npos) {
        // The interface is line based: such an answer cannot be passed on, and cannot be right either.
        m_request.kind = UserRequest::Kind::Login;
        m_request.rejected = true;
        return;
    }
    m_username = username;
    if (m_staticChallenge) {
        m_loginPassword = password;
        m_request = m_challenge;
        return;
    }
    sendLogin(password);
}

void Management::answerCode(const std::string& code)
{
    if (m_request.kind != UserRequest::Kind::Code)
        return;
    m_request = UserRequest();
    if (code.find_first_of("\r\n") != std::string::npos) {
        declineRequest();
        return;
    }
    if (!m_crv1State.empty()) {
        m_username = m_crv1User;
        const std::string password = "CRV1::" + m_crv1State + "::" + code;
        m_crv1State.clear();
        m_crv1User.clear();
        sendLogin(password);
        return;
    }
    // OpenVPN 2.6 takes the static challenge's answer inside the password.
    const std::string password = m_concatChallenge
                                     ? m_loginPassword + code
                                     : "SCRV1:" + encodeBase64(m_loginPassword) + ":" + encodeBase64(code);
    m_loginPassword.clear();
    sendLogin(password);
}

void Management::declineRequest()
{
    m_request = UserRequest();
    m_loginPassword.clear();
    if (m_failure.empty())
        m_failure = "Error: sign-in cancelled: AUTH_FAILED";
    feed(std::string());
}

void Management::sendLogin(const std::string& password)
{
    send("username \"Auth\" " + managementQuote(m_username));
    send("password \"Auth\" " + managementQuote(password));
    feed(std::string());
}

void Management::unanswerable(const std::string& line)
{
    // >NEED-OK:Need 'NAME' confirmation MSG:TEXT, >NEED-STR:Need 'NAME' input MSG:TEXT
    const bool confirmation = startsWith(line, ">NEED-OK:");
    const std::string request = line.substr(confirmation ? 9 : 10);
    const std::string what = quoted(request, 0);
    const auto messageAt = request.find("MSG:");
    const std::string message =
        messageAt == std::string::npos ? std::string() : request.substr(messageAt + 4);
    if (m_failure.empty()) {
        m_failure = "Error: OpenVPN waits for " + std::string(confirmation ? "a confirmation" : "an input") +
                    " '" + (what.empty() ? request : what) + "'" +
                    (message.empty() ? "" : " (" + message + ")") +
                    ", which qLumar Velkoro cannot give; check the connection template";
    }
}

void Management::stateEvent(const std::string& line)
{
    if (m_bytecountSeconds <= 0)
        return;
    // >STATE:TIME,NAME,DESCRIPTION,LOCAL_IP,REMOTE_IP,...
    std::vector<std::string> fields;
    std::string::size_type start = 7;
    for (int i = 0; i < 4; ++i) {
        const auto comma = line.find(',', start);
        fields.push_back(line.substr(start, comma == std::string::npos ? std::string::npos : comma - start));
        if (comma == std::string::npos)
            break;
        start = comma + 1;
    }
    fields.resize(4);
    const std::string& name = fields[1];
    if (name == "CONNECTED") {
        m_events.push_back({"state", "connected", fields[3]});
    } else if (name == "RECONNECTING") {
        m_events.push_back({"state", "reconnecting", fields[2]});
    } else if (name == "EXITING") {
        m_events.push_back({"state", "exiting", fields[2]});
    } else if (!name.empty()) {
        m_events.push_back({"state", "connecting", name});
    }
}

void Management::infoEvent(const std::string& line)
{
    // >INFO:OPEN_URL:URL (OpenVPN 2.6), >INFOMSG:WEB_AUTH:FLAGS:URL (OpenVPN 2.5)
    std::string url;
    if (startsWith(line, ">INFO:OPEN_URL:")) {
        url = line.substr(15);
    } else if (startsWith(line, ">INFOMSG:WEB_AUTH:")) {
        const auto colon = line.find(':', 18);
        url = colon == std::string::npos ? std::string() : line.substr(colon + 1);
    }
    if (m_bytecountSeconds > 0 && (startsWith(url, "https://") || startsWith(url, "http://"))) {
        m_events.push_back({"url", url});
    }
}

void Management::pkcs11Entry(const std::string& line)
{
    // >PKCS11ID-ENTRY:'INDEX', ID:'SERIALIZED ID', BLOB:'BASE64 CERTIFICATE'
    const auto idAt = line.find("ID:'");
    const auto blobAt = line.find("BLOB:'");
    if (idAt == std::string::npos || blobAt == std::string::npos)
        return;
    m_ids.emplace_back(quoted(line, idAt), decodeBase64(quoted(line, blobAt)));
    if (static_cast<long>(m_ids.size()) < m_idCount)
        return;
    for (const auto& [id, der] : m_ids) {
        if (std::find(m_certificates.begin(), m_certificates.end(), der) != m_certificates.end()) {
            send("needstr pkcs11-id-request " + managementQuote(id));
            return;
        }
    }
    m_failure = "Error: none of the " + std::to_string(m_ids.size()) +
                " certificates OpenVPN finds in the PKCS#11 token belongs to the profile's key";
}
