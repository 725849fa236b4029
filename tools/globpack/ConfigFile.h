#pragma once

#include <string>
#include <vector>

// One "key = value" line of a --config file.
struct ConfigEntry {
    std::string key;
    std::vector<std::string> values;  // one for a single value, any number for an array
    bool array = false;               // written as [ "...", ... ]
    bool bare = false;                // written without quotes (true, false, or an INI value)
    int line = 0;
};

// Reads the lines of a configuration file, a small common ground of TOML and INI:
//   # comment            ; comment           (whole lines only)
//   [globpack]           the only section; keys before any section count as well
//   name = "Vornhelm Atlas"      a TOML string: \\ \" \n \t \uXXXX escapes
//   default-dir = 'C:\ATLAS'     a TOML literal string: no escapes
//   subtitle = Maps for every desk   an INI value: the rest of the line, spaces kept
//   exclude = ["*.bak", "CVS"]       an array of strings, on one line
//   verify = true
// Keys are not checked here. False with *error set ("line N: what is wrong; what to do") for a
// line that is none of these: no '=', an empty key or value, an unterminated or unknown quoting,
// text after a closing quote, a section other than [globpack].
bool ParseConfig(const std::string& text, std::vector<ConfigEntry>* entries, std::string* error);
