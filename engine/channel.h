#pragma once

#include "log.h"

#include <optional>
#include <string>
#include <vector>

// The engine's side of the manager channel: structured events beside the log, on a local socket the
// manager names in QLUMAR_ENGINE_CHANNEL. Without that variable, or when the socket cannot be
// reached, every call does nothing and the engine works through its log and exit code alone.
class Management;

namespace Channel {

// Connects and says hello with the protocol version; a socket that cannot be reached is one warning.
void open(Logger& log);
bool isOpen();

// connecting, connected (detail: the tunnel address), reconnecting (detail: why), exiting.
void state(const std::string& name, const std::string& detail = {});
// Totals since the engine started: received from the server, sent to it.
void bytes(unsigned long long in, unsigned long long out);
// Why the connection failed: a code (ChannelProtocol::failureCode) and a line for people. Said once.
void failure(const std::string& code, const std::string& text);
void openUrl(const std::string& url);
// Events as Management::takeEvents() gives them.
void forward(const std::vector<std::vector<std::string>>& events);

// Asks the manager for input (kind: username, password, otp, text; prompt: the server's words) and
// waits for the answer. None when there is no channel, the manager cancels or goes away, or a stop
// signal arrives; *stopSignal then names the signal.
std::optional<std::string> ask(const std::string& kind, const std::string& prompt, std::string* stopSignal);
// The same with a flag after the prompt (a login asked again: "rejected"; a code not to be shown:
// "hidden"), giving every field of the answer (a login's: username, password).
std::optional<std::vector<std::string>> askFields(const std::string& kind, const std::string& prompt,
                                                  const std::string& flag, std::string* stopSignal);

// Asks the manager whatever OpenVPN waits for from the user (Management::userRequest) and hands the
// answers back, until nothing is waiting. False when a stop signal (named in *stopSignal) ended the
// wait; a declined request fails the connection through Management::failure().
bool answerUser(Management& management, std::string* stopSignal);

// At the engine's end: an engine that fails without having said why says it now, from its last error
// (when it has one of its own).
void finish(int exitCode, const std::string& lastError);

} // namespace Channel
