#pragma once

#include <string>

// Turns the translated configuration into one that names no file: every file a directive names
// (ca, cert, key, pkcs12, tls-auth, ...) is read here, as the user, relative to the working
// directory, and appended as an inline block; its line becomes a comment, so line N is still the
// profile's line N. False with a message when a file cannot be read or cannot be inlined.
bool inlineProfileFiles(const std::string& translated, std::string* out, std::string* error);
