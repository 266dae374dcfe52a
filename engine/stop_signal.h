#pragma once

#include <chrono>
#include <string>

// Turns SIGTERM/SIGINT (console control events on Windows) into something the engine can wait for
// alongside its own timers, so a stop request is honoured at any point, including during delays.
namespace StopSignal {

bool install(std::string* error);

// Waits until a stop request arrives or the timeout passes; a negative timeout waits forever.
// Returns the signal's name ("SIGTERM", "SIGINT"), or an empty string on timeout.
std::string wait(std::chrono::milliseconds timeout);

inline constexpr std::chrono::milliseconds kForever{-1};

#ifndef _WIN32
// For waiting in poll() together with other descriptors: readable once a stop request has arrived.
int pollFd();
// The name of the stop request that has arrived ("SIGTERM", "SIGINT"), or "" when none has; drains pollFd().
std::string received();
#endif

} // namespace StopSignal
