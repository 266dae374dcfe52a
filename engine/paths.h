#pragma once

#include <filesystem>
#include <string>

// Paths travel through the engine as UTF-8 strings (command line and configuration file are both
// UTF-8); these convert at the file system boundary so that non-ASCII names work on Windows too.
std::filesystem::path toNativePath(const std::string& utf8);
bool pathExists(const std::string& utf8);
bool isRegularFile(const std::string& utf8);

// Reads a whole file. On POSIX systems the file is opened close-on-exec, so that a program the engine
// starts (OpenVPN) inherits none of the engine's files. False when it cannot be opened or read.
bool readFileText(const std::string& utf8, std::string* text);
