#include "SourceTree.h"

#include <algorithm>
#include <cstdio>
#include <map>

#include "CodePage.h"
#include "MemberName.h"

namespace fs = std::filesystem;

namespace {

constexpr uint64_t kFourGiB = uint64_t(1) << 32;

std::string KindProblem(fs::file_type type) {
    switch (type) {
    case fs::file_type::symlink:
        return "is a symbolic link; the archive carries regular files only: pass "
               "--follow-symlinks to pack its target, or --exclude it";
    case fs::file_type::block:
    case fs::file_type::character:
        return "is a device; the archive carries regular files only: remove it from the source "
               "or --exclude it";
    case fs::file_type::fifo:
        return "is a FIFO; the archive carries regular files only: remove it from the source or "
               "--exclude it";
    case fs::file_type::socket:
        return "is a socket; the archive carries regular files only: remove it from the source "
               "or --exclude it";
    default:
        return "is not a regular file; the archive carries regular files only: remove it from "
               "the source or --exclude it";
    }
}

// A name for messages: control characters would move the cursor or worse, so they are shown as
// \xNN.
std::string Printable(const std::string& name) {
    std::string shown;
    for (unsigned char c : name) {
        if (c < 0x20 || c == 0x7F) {
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\x%02X", c);
            shown += hex;
        } else {
            shown += static_cast<char>(c);
        }
    }
    return shown;
}

// Deeper than this, a tree is taken for a loop that the link checks could not see (a junction
// whose target the platform does not resolve, say).
constexpr int kMostLevels = 100;
// Directories entered through links, in all: with a loop left unseen, each level could double
// the work; this bounds it whatever the links do.
constexpr size_t kMostLinkedDirectories = 10000;

class TreeScanner {
public:
    TreeScanner(const ScanOptions& options, std::vector<SourceFile>* files, Diagnostics* diagnostics)
        : options(options), files(files), diagnostics(diagnostics) {}

    // Returns the number of files found below directory (refused ones included).
    size_t ScanDirectory(const fs::path& directory, const std::string& display,
                         const std::string& relative, int level);
    // One entry of a directory, or the source itself when it is a file.
    size_t ScanEntry(const fs::path& entry, const std::string& entryDisplay,
                     const std::string& entryRelative, int level);

    size_t excluded = 0;
    size_t linkedDirectories = 0;
    std::vector<fs::path> ancestors;  // resolved paths of the directories being scanned

private:
    bool Excluded(const std::string& relative) const {
        for (const PathPattern& pattern : options.excludes)
            if (pattern.Matches(relative)) return true;
        return false;
    }

    const ScanOptions& options;
    std::vector<SourceFile>* files;
    Diagnostics* diagnostics;
};

size_t TreeScanner::ScanDirectory(const fs::path& directory, const std::string& display,
                                  const std::string& relative, int level) {
    std::error_code ec;
    if (level > kMostLevels) {
        diagnostics->errors.push_back(display + ": lies more than " + std::to_string(kMostLevels) +
                                      " directories deep (a loop of links?); --exclude it");
        return 1;
    }
    std::vector<fs::path> entries;
    for (fs::directory_iterator it(directory, ec), end; !ec && it != end; it.increment(ec))
        entries.push_back(it->path());
    if (ec) {
        diagnostics->errors.push_back(display + ": cannot be read (" + ec.message() +
                                      "); check its permissions");
        return 0;
    }
    fs::path resolved;
    std::string reason;
    ancestors.push_back(ResolvePath(directory, &resolved, &reason) ? resolved : directory);
    // Sorted so that messages come in the same order on every run.
    std::sort(entries.begin(), entries.end());
    size_t found = 0;
    for (const fs::path& entry : entries) {
        const std::string name = entry.filename().u8string();
        found += ScanEntry(entry, display + "/" + Printable(name),
                           relative.empty() ? name : relative + "\\" + name, level);
    }
    ancestors.pop_back();
    return found;
}

size_t TreeScanner::ScanEntry(const fs::path& entry, const std::string& entryDisplay,
                              const std::string& entryRelative, int level) {
    std::error_code ec;
    if (Excluded(entryRelative)) {
        ++excluded;
        return 1;  // an excluded entry does not make its directory an empty one
    }
    const std::string name = entry.filename().u8string();
    // Checked here, one component at a time: a POSIX name may hold '\', which a joined name
    // could no longer tell from a separator. Before the type: Windows cannot even examine
    // some of these names (CON, "name.").
    const std::string problem = ComponentProblem(name);
    if (!problem.empty()) {
        diagnostics->errors.push_back(entryDisplay + ": " + problem + "; rename it");
        return 1;  // a refused directory is not an empty one
    }
    fs::file_type type = fs::symlink_status(entry, ec).type();
    if (ec) {
        diagnostics->errors.push_back(entryDisplay + ": cannot be examined (" + ec.message() +
                                      "); check its permissions");
        return 1;
    }
    fs::path readFrom = entry;
    if (type == fs::file_type::symlink || IsLink(entry)) {
        if (!options.followLinks) {
            diagnostics->errors.push_back(entryDisplay + ": " + KindProblem(fs::file_type::symlink));
            return 1;
        }
        std::string reason;
        if (!ResolvePath(entry, &readFrom, &reason) ||
            (type = fs::symlink_status(readFrom, ec).type(), ec)) {
            diagnostics->errors.push_back(entryDisplay + ": is a symbolic link that leads nowhere (" +
                                          (ec ? ec.message() : reason) + "); remove it or --exclude it");
            return 1;
        }
        if (type == fs::file_type::directory &&
            std::find(ancestors.begin(), ancestors.end(), readFrom) != ancestors.end()) {
            diagnostics->errors.push_back(entryDisplay + ": is a symbolic link to " +
                                          readFrom.u8string() +
                                          ", which holds the link: a loop; --exclude it");
            return 1;
        }
        if (type == fs::file_type::directory && ++linkedDirectories > kMostLinkedDirectories) {
            diagnostics->errors.push_back(entryDisplay + ": more than " +
                                          std::to_string(kMostLinkedDirectories) +
                                          " directories reached through links (a loop?); "
                                          "--exclude some");
            return 1;
        }
    }
    if (type == fs::file_type::directory) {
        const size_t warningsBefore = diagnostics->warnings.size();
        const size_t below = ScanDirectory(readFrom, entryDisplay, entryRelative, level + 1);
        if (below == 0) {
            // One warning for the topmost directory without files, not one per level.
            diagnostics->warnings.resize(warningsBefore);
            diagnostics->warnings.push_back(
                entryDisplay + ": holds no files and is left out; the installer creates "
                "directories only for the files in them");
        }
        return below;
    }
    if (type == fs::file_type::regular) {
        SourceFile file;
        file.path = readFrom;
        file.displayName = entryDisplay;
        file.relativeName = entryRelative;
        files->push_back(std::move(file));
        return 1;
    }
    diagnostics->errors.push_back(entryDisplay + ": " + KindProblem(type));
    return 1;
}

}  // namespace

size_t ScanSourceTree(const fs::path& root, const std::string& rootDisplay,
                      const ScanOptions& options, std::vector<SourceFile>* files,
                      Diagnostics* diagnostics) {
    TreeScanner scanner(options, files, diagnostics);
    std::error_code ec;
    if (fs::is_directory(root, ec)) {
        scanner.ScanDirectory(root, rootDisplay, std::string(), 0);
    } else {
        // A single file: one member, named by the file's own name. A link given by name is
        // followed: the user chose it.
        const fs::path target = fs::canonical(root, ec);
        std::string name = root.filename().u8string();
        if (name.empty() && !ec) name = target.filename().u8string();
        const std::string problem = ComponentProblem(name);
        if (!problem.empty()) {
            diagnostics->errors.push_back(rootDisplay + ": " + problem + "; rename it");
        } else if (!ec && fs::is_regular_file(target, ec)) {
            SourceFile file;
            file.path = target;
            file.displayName = rootDisplay;
            file.relativeName = name;
            files->push_back(std::move(file));
        } else {
            diagnostics->errors.push_back(rootDisplay + ": " + KindProblem(fs::status(root, ec).type()));
        }
    }
    return scanner.excluded;
}

uint64_t PrepareMembers(std::vector<SourceFile>* files, const MemberRules& rules,
                        const std::string& rootDisplay, Diagnostics* diagnostics) {
    std::vector<std::string>& errors = diagnostics->errors;
    std::vector<SourceFile> named;
    uint64_t total = 0;
    for (SourceFile& file : *files) {
        if (!ToCodePage(file.relativeName, rules.codePage, &file.storedName)) {
            errors.push_back(file.displayName + ": the name cannot be written in code page " +
                             std::to_string(rules.codePage) +
                             "; rename it or choose another --code-page");
            continue;
        }
        const std::string problem = StoredNameProblem(file.storedName);
        if (!problem.empty()) {
            errors.push_back(file.displayName + ": " + problem + "; rename it");
            continue;
        }
        std::string error;
        if (!ReadSourceFacts(file.path, &file.facts, &error)) {
            errors.push_back(file.displayName + ": cannot be examined (" + error +
                             "); check its permissions");
            continue;
        }
        if (!SourceReader().Open(file.path, &error)) {
            errors.push_back(file.displayName + ": cannot be read (" + error +
                             "); check its permissions");
            continue;
        }
        file.seen = file.facts;
        if (file.facts.size >= kFourGiB) {
            errors.push_back(file.displayName + ": is " + std::to_string(file.facts.size) +
                             " bytes; the archive holds files under 4 GiB only: leave it out");
            continue;
        }
        total += file.facts.size;
        if (!rules.keepAccessTimes) {
            file.facts.lastAccessTime = file.facts.lastWriteTime;
            if (!PlatformKeepsCreationTime) file.facts.creationTime = file.facts.lastWriteTime;
        }
        if (rules.clampTimes) {
            file.facts.creationTime = std::min(file.facts.creationTime, rules.latestTime);
            file.facts.lastAccessTime = std::min(file.facts.lastAccessTime, rules.latestTime);
            file.facts.lastWriteTime = std::min(file.facts.lastWriteTime, rules.latestTime);
        }
        const size_t targetLength = rules.defaultDir.size() + 1 + file.storedName.size();
        if (targetLength > 255)
            diagnostics->warnings.push_back(
                file.displayName + ": installed under the default directory its path has " +
                std::to_string(targetLength) +
                " characters, more than the installer's 255; shorten the name or the directory");
        named.push_back(std::move(file));
    }

    std::sort(named.begin(), named.end(),
              [](const SourceFile& a, const SourceFile& b) { return a.storedName < b.storedName; });

    // Windows takes names that differ only in case for one, files and directories alike.
    std::map<std::string, const SourceFile*> fileKeys;
    for (const SourceFile& file : named) {
        const auto inserted = fileKeys.emplace(FoldCase(file.relativeName), &file);
        if (!inserted.second)
            errors.push_back(file.displayName + ": differs from " +
                             inserted.first->second->displayName +
                             " only in case, and Windows would take them for one file; rename one");
    }
    for (const SourceFile& file : named) {
        const std::string key = FoldCase(file.relativeName);
        for (size_t cut = key.find('\\'); cut != std::string::npos; cut = key.find('\\', cut + 1)) {
            const auto clash = fileKeys.find(key.substr(0, cut));
            if (clash != fileKeys.end())
                errors.push_back(file.displayName + ": lies in a directory that Windows would take "
                                 "for the file " + clash->second->displayName + "; rename one");
        }
    }

    if (total >= kFourGiB)
        errors.push_back(rootDisplay + ": the files hold " + std::to_string(total) +
                         " bytes; the archive holds under 4 GiB in all: pack fewer");
    if (named.empty() && errors.empty())
        errors.push_back(rootDisplay + ": holds no files; nothing to pack: name the directory "
                         "with the application's files");
    *files = std::move(named);
    return total;
}
