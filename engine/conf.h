#pragma once

#include <string>
#include <vector>

struct Directive
{
    int line = 0;
    std::string keyword;
    std::vector<std::string> params; // split on blanks, quotes removed
    std::string rest;                // everything after the keyword, outer quotes removed
};

// What the engine needs from a profile's configuration file. Every directive is kept so that a
// backend driving a real engine can pass the template lines on.
struct Conf
{
    std::string path;
    std::string name; // from the "# qLumarVpnName" header, for log lines only
    std::string remote;
    int port = 1194;
    std::string ca;
    std::string cert;
    std::string key;
    std::string pkcs12;
    std::vector<Directive> directives;
};

struct ConfResult
{
    bool ok = false;
    Conf conf;
    std::vector<std::string> errors;
};

// The profile signs in with a username and password ("auth-user-pass"), besides or instead of a key.
bool asksUserPassword(const Conf& conf);

// Parses configuration text; errors name the file and line of what is missing or malformed.
ConfResult parseConf(const std::string& text, const std::string& path);
ConfResult readConf(const std::string& path);

// Splits a directive's parameters on blanks; double or single quotes group words.
std::vector<std::string> splitParams(const std::string& text);

// Removes blanks (spaces, tabs, carriage returns) from both ends.
std::string trimBlanks(const std::string& text);
