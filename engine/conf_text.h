#pragma once

#include <string>
#include <vector>

// The pieces every reader of OpenVPN-style configuration text in the engine shares: the lines, the
// inline blocks, the words of a line and the quoting of one parameter.

// The lines of a configuration: split at line feeds, each without a final carriage return, the
// first without a UTF-8 byte-order mark. Line N of the text is element N-1.
std::vector<std::string> confLines(const std::string& text);

// Follows inline blocks ("<ca>" up to "</ca>") line by line. A block holds data, not directives.
class InlineBlocks
{
public:
    // Whether the line opens a block, lies inside one or closes it.
    bool take(const std::string& line);

private:
    std::string m_open; // the name of the block being read, empty outside
};

enum class WordRules {
    // The manager's own files: blanks (space, tab, carriage return) separate, double or single quotes
    // group words and are dropped.
    Plain,
    // As OpenVPN reads a line: any white space separates, double quotes with backslash escapes,
    // single quotes literal, a backslash outside quotes escapes the next character, and '#' or ';'
    // at the start of a word ends the line.
    OpenVpn,
};

std::vector<std::string> splitWords(const std::string& text, WordRules rules);

// A value in double quotes with backslashes and double quotes escaped, as OpenVPN's configuration
// and its management interface both read it.
std::string quoteAlways(const std::string& value);
