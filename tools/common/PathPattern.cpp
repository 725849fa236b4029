#include "PathPattern.h"

namespace {

char Lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool IsSeparator(char c) { return c == '/' || c == '\\'; }

}  // namespace

std::vector<std::string> SplitPath(const std::string& path) {
    std::vector<std::string> components;
    std::string current;
    for (char c : path) {
        if (!IsSeparator(c)) {
            current += c;
        } else if (!current.empty()) {
            components.push_back(current);
            current.clear();
        }
    }
    if (!current.empty()) components.push_back(current);
    return components;
}

// Iterative with one backtrack point: the last '*' seen is the only one worth retrying, so the
// time stays proportional to the lengths' product at worst, never exponential.
bool MatchComponent(const std::string& pattern, const std::string& name) {
    size_t p = 0, n = 0, star = std::string::npos, resume = 0;
    while (n < name.size()) {
        if (p < pattern.size() && pattern[p] == '*') {
            star = p++;
            resume = n;
        } else if (p < pattern.size() && (pattern[p] == '?' || Lower(pattern[p]) == Lower(name[n]))) {
            ++p;
            ++n;
        } else if (star != std::string::npos) {
            p = star + 1;
            n = ++resume;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == '*') ++p;
    return p == pattern.size();
}

PathPattern::PathPattern(const std::string& pattern) : text(pattern) {
    parts = SplitPath(pattern);
    for (char c : pattern) anchored = anchored || IsSeparator(c);
    directoryOnly = !pattern.empty() && IsSeparator(pattern.back());
    // "DOCS/" alone names a directory at any depth, like "DOCS".
    if (parts.size() == 1 && directoryOnly && !IsSeparator(pattern.front())) anchored = false;
}

bool PathPattern::MatchFrom(size_t part, size_t component,
                            const std::vector<std::string>& components) const {
    if (part == parts.size()) return directoryOnly ? component < components.size() : true;
    if (parts[part] == "**") {
        for (size_t next = component; next <= components.size(); ++next)
            if (MatchFrom(part + 1, next, components)) return true;
        return false;
    }
    return component < components.size() && MatchComponent(parts[part], components[component]) &&
           MatchFrom(part + 1, component + 1, components);
}

bool PathPattern::Matches(const std::string& path) const {
    const std::vector<std::string> components = SplitPath(path);
    if (parts.empty()) return false;
    if (anchored) return MatchFrom(0, 0, components);
    for (size_t i = 0; i < components.size(); ++i)
        if (MatchFrom(0, i, components)) return true;
    return false;
}
