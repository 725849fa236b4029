#pragma once

#include <string>
#include <vector>

// A wildcard pattern over member paths, shared by globpack --exclude and globx extract:
//   - '\' and '/' both separate components, in the pattern and in the path;
//   - '?' is one character and '*' any run of characters, neither crossing a separator;
//     a component "**" stands for any number of components, none included;
//   - ASCII letters match either case (the installer creates the files on Windows, where
//     "Readme.txt" and "README.TXT" are one file);
//   - a pattern without a separator names a file or directory at any depth ("*.bak", "CVS");
//     one with a separator is matched from the top ("DATA/*.MAP"; a leading separator is
//     dropped);
//   - a pattern that matches a directory takes everything below it; one that ends with a
//     separator matches directories only ("DOCS/" leaves a file DOCS alone).
class PathPattern {
public:
    explicit PathPattern(const std::string& pattern);

    bool Matches(const std::string& path) const;
    const std::string& Text() const { return text; }

private:
    bool MatchFrom(size_t part, size_t component, const std::vector<std::string>& components) const;

    std::string text;
    std::vector<std::string> parts;
    bool anchored = false;       // held a separator: matched from the first component
    bool directoryOnly = false;  // ended with a separator
};

// The components of a path split at '\' and '/', empty ones dropped.
std::vector<std::string> SplitPath(const std::string& path);

// True when name matches one component's pattern ('*', '?', ASCII case ignored).
bool MatchComponent(const std::string& pattern, const std::string& name);
