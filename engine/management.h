#pragma once

#include "options.h"

#include <string>
#include <vector>

// The engine's side of OpenVPN's management interface: OpenVPN asks through it for the private key
// password or token PIN, and for which token certificate to use. Pure protocol, no I/O: feed() takes
// what OpenVPN sent and takeReply() gives what to send back.
// How often OpenVPN reports its byte counts when a manager channel wants them.
inline constexpr int kBytecountSeconds = 2;

class Management
{
public:
    // password: the interface's own password. secret: the --keypass password or the token PIN.
    // certificates: DER certificates, any of which picks the token identity; empty for PKCS#12 profiles.
    Management(CredentialKind kind, std::string password, std::string secret,
               std::vector<std::string> certificates);

    void feed(const std::string& data);
    std::string takeReply();

    // The token PIN was refused: OpenVPN asked for it again before the connection got past the TLS
    // handshake, which is where the key is used. OpenVPN itself only keeps asking, and answering again
    // with the same PIN could only lock the token, so the engine stops instead. (A wrong PKCS#12
    // password is OpenVPN's own fatal error.)
    bool wrongSecret() const { return m_wrongSecret; }
    // Something the engine cannot answer; the text says what. Empty while all is well.
    const std::string& failure() const { return m_failure; }
    // Lines worth showing in the log (the interface's own error answers).
    std::vector<std::string> takeNotes();

    // Asks OpenVPN for its state changes and byte counts (every `bytecountSeconds`), and keeps them, with
    // any web login address, as manager channel events: {"state", NAME, DETAIL}, {"bytes", IN, OUT},
    // {"url", URL}. Off unless asked for, so an engine without a manager channel talks as before.
    void reportEvents(int bytecountSeconds) { m_bytecountSeconds = bytecountSeconds; }
    std::vector<std::vector<std::string>> takeEvents();

    // What OpenVPN waits for that only the user can give: a username and password ("auth-user-pass")
    // or a one-time code (a static challenge, or a dynamic CRV1 one after the server refused the
    // password). Asked through the manager channel, so only when the backend can ask: otherwise such a
    // request fails the connection as one the engine cannot answer.
    struct UserRequest
    {
        enum class Kind { None, Login, Code };
        Kind kind = Kind::None;
        std::string prompt;    // Code: the server's words
        bool echo = false;     // Code: the code may be shown as typed
        bool rejected = false; // Login: the last username or password was refused
    };
    void askUser(bool possible) { m_canAskUser = possible; }
    const UserRequest& userRequest() const { return m_request; }
    void answerLogin(const std::string& username, const std::string& password);
    void answerCode(const std::string& code);
    // The user declined: the connection fails.
    void declineRequest();

private:
    void handleLine(const std::string& line);
    void passwordRequest(const std::string& line);
    void pkcs11Entry(const std::string& line);
    void unanswerable(const std::string& line);
    void authRequest(const std::string& request);
    void authFailed(const std::string& reason);
    void sendLogin(const std::string& password);
    void stateEvent(const std::string& line);
    void infoEvent(const std::string& line);
    void send(const std::string& command);

    CredentialKind m_kind;
    std::string m_password;
    std::string m_secret;
    std::vector<std::string> m_certificates;

    std::string m_input;
    std::string m_reply;
    std::vector<std::string> m_notes;
    bool m_authenticated = false;
    int m_bytecountSeconds = 0;
    bool m_eventsAsked = false;
    std::vector<std::vector<std::string>> m_events;

    bool m_secretSent = false;
    bool m_secretUsed = false;
    bool m_wrongSecret = false;
    std::string m_failure;

    bool m_canAskUser = false;
    UserRequest m_request;
    bool m_loginRejected = false;
    std::string m_username;
    std::string m_loginPassword;
    UserRequest m_challenge;  // the static challenge of the current request
    UserRequest m_crv1Prompt; // the dynamic challenge's question
    bool m_staticChallenge = false;
    bool m_concatChallenge = false;
    std::string m_crv1State; // the server's dynamic challenge waiting for its answer
    std::string m_crv1User;

    long m_idCount = 0;
    std::vector<std::pair<std::string, std::string>> m_ids; // serialized id, certificate DER
};

// A parameter in OpenVPN's quoting: double quotes, with backslashes and double quotes escaped.
std::string managementQuote(const std::string& value);

// Standard base64, as OpenVPN sends certificates; empty on malformed input.
std::string decodeBase64(const std::string& text);
std::string encodeBase64(const std::string& data);
