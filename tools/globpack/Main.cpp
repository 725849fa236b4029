#include <CLI/CLI.hpp>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>

#include "ArchiveWriter.h"
#include "CodePage.h"
#include "ConfigFile.h"
#include "InputFile.h"
#include "MemberName.h"
#include "Pack.h"
#include "PackPlatform.h"
#include "SetupHeader.h"
#include "SourceTree.h"
#include "StubEdit.h"
#include "TerminalProgress.h"
#include "Threads.h"
#include "UnixTime.h"
#include "Verify.h"

namespace fs = std::filesystem;

namespace {

constexpr int kExitUsage = 1;
constexpr int kExitRefused = 2;
constexpr size_t kMostMessages = 20;
constexpr size_t kMostConfigBytes = 64 * 1024;
// Each thread may hold a few MiB of coded bytes ahead of the writer.
constexpr unsigned kMostThreads = 64;

const char kFooter[] = R"(SOURCE is a directory, whose regular files become the members, named by their path
relative to it with '\' between directories; or a single regular file, which becomes one
member named by its file name. Names are written in the installer's code page and the
members sorted by those bytes.

--exclude PATTERN (repeatable) leaves out every file or directory whose member path
matches: '*' is any run of characters and '?' one character, neither crossing a
separator; a component "**" is any number of directories; '\' and '/' both separate;
ASCII letters match either case. A pattern without a separator matches a name at any
depth ("*.bak", ".git"); one with a separator is matched from the top ("doc/*.tmp"); one
that ends with a separator matches directories only. A directory matched goes whole.

Links: symbolic links, and on Windows junctions and other reparse points, are refused
unless --follow-symlinks, which packs each link's target under the link's name; a link
that leads nowhere, or to a directory that holds it (a loop), is refused still.

Times: each member keeps its last-write time. Its last-access time is recorded as the
last-write time, since reading a file moves it, and so is its creation time where the
platform keeps none of its own (POSIX; on Windows the real one is kept), so the same tree
gives the same installer byte for byte, however often it is read; --keep-access-times
records the real last-access (and, on POSIX, birth) times instead. SOURCE_DATE_EPOCH, when
set, caps every time.

--default-dir must be an absolute Windows path, a drive letter, ':' and '\' first
(C:\ATLAS): the installer puts the chosen drive's letter over the first character.

Refused, before anything is written: links (see above), devices, FIFOs and sockets; names
Windows does not allow (control characters, < > : " / | ? * and '\' within a name,
device names such as CON or LPT1, a trailing dot or space); names the code page cannot
write, or that hold the byte 0xFF after the first; names that differ only in case; a file
of 4 GiB or more, or 4 GiB in all; an empty SOURCE; a header text over 63 bytes;
an agreement text holding a NUL byte, bytes that are not UTF-8 or a character the code
page cannot hold, or one that leaves the first floppy no room for the archive. The first
20 problems are listed; -v lists every one. Directories without files are left out with
a warning. A file whose size, modification or change time moves while it is read is
refused and nothing is written: pack a tree that is left alone.

-j/--threads N codes N members at a time, each thread with its own model, and writes
them in their order: the installer is the same for any N. Memory stays a few MiB per
thread however large the files are. When several files fail, the first in member order
is reported, as with -j 1.

--license and --icon rewrite the resources of the stub's copy in SETUP.EXE (the stub
file itself is left alone): the new data goes behind the existing resources, so the
stub grows by about the size of the text or icon. --config, --license and --icon must
name regular files (not a FIFO or a device) of at most 64 KiB (--config) or 1.4 MB.

--group NAME stores a Program Manager group in the stub's copy: the installer then
creates NAME and shows it, so that its item for --exe lands there (under Wine: a Start
Menu folder NAME with the shortcut). Without it the installer creates "Vornhelm
Software" but shows "New Group", where the item goes. At most 63 bytes in the
--code-page, none of [ ] ( ) , " \ / : * ? < > |, no control character, no space at
either end.

--config FILE reads options from a file: one "key = value" per line, the keys being the
long options without "--" (plus "source" for SOURCE). TOML and INI forms both work:
  ; whole-line comments start with ; or #; [globpack] is the only section
  [globpack]
  ; paths are relative to the config file
  source = app
  license = LICENSE.txt
  ; INI: the value is the rest of the line, spaces kept
  subtitle = Maps for every desk
  ; TOML: "..." with \\ escapes, '...' without
  name = "Vornhelm Atlas"
  default-dir = 'C:\ATLAS'
  exclude = ["*.bak", "CVS"]
  verify = true
An unknown key or section, a key given twice, or a malformed line is an error naming its
line. Options on the command line win; exclude patterns from both are used.

Exit status: 0 done, 1 bad options, 2 refused input or a failed write or verify.
)";

struct Options {
    std::string sourceDir;
    std::string outDir;
    std::string texts[HeaderTextCount];
    bool textGiven[HeaderTextCount] = {};
    std::string stub;
    std::string license;
    std::string icon;
    std::string group;
    bool groupGiven = false;
    std::string codePageText = "windows-1252";
    std::string configPath;
    std::vector<std::string> excludes;
    bool verify = false;
    bool noIntegrity = false;
    bool quiet = false;
    bool verbose = false;
    bool followLinks = false;
    bool keepAccessTimes = false;
    unsigned threads = 0;  // 0: one per core
};

// The option that sets each header text, in stored order.
const char* const kTextOptions[HeaderTextCount] = {"--name",         "--caption", "--subtitle",
                                                   "--default-dir", "--version-text", "--exe"};

void PrintError(const std::string& message) {
    std::fprintf(stderr, "globpack: %s\n", message.c_str());
}

// Each list ends after kMostMessages lines unless all: a tree full of bad names must not flood the
// terminal. The last line then says how many are left and how to see them.
void PrintMessages(const std::vector<std::string>& messages, const char* kind, bool all) {
    const size_t shown = all ? messages.size() : std::min(messages.size(), kMostMessages);
    for (size_t i = 0; i < shown; ++i)
        std::fprintf(stderr, "globpack: %s%s\n", kind, messages[i].c_str());
    if (messages.size() > shown)
        std::fprintf(stderr, "globpack: %s%zu more not shown (%zu in all); -v lists every one\n",
                     kind, messages.size() - shown, messages.size());
}

// Empty when text may be the installer's proposed directory; else why not.
std::string DefaultDirProblem(const std::string& text) {
    const bool letter = !text.empty() && ((text[0] >= 'A' && text[0] <= 'Z') ||
                                          (text[0] >= 'a' && text[0] <= 'z'));
    if (letter && text.size() >= 3 && text[1] == ':' && text[2] == '\\') return std::string();
    if (letter && text.size() >= 3 && text[1] == ':' && text[2] == '/')
        return "separates with '/'; write '\\' (C:\\APP)";
    return "is not an absolute Windows path; the installer replaces its first character with "
           "the chosen drive's letter, so it must start with a drive, ':' and '\\' (C:\\APP)";
}

bool ParseEpoch(const char* text, uint64_t* fileTime) {
    if (!*text || std::strlen(text) > 15) return false;
    int64_t seconds = 0;
    for (const char* c = text; *c; ++c) {
        if (*c < '0' || *c > '9') return false;
        seconds = seconds * 10 + (*c - '0');
    }
    *fileTime = FileTimeFromUnix(seconds, 0);
    return true;
}

bool ReadStub(const fs::path& path, std::vector<uint8_t>* stub) {
    const std::string name = path.u8string();
    std::error_code ec;
    if (!fs::is_regular_file(path, ec)) {
        PrintError(name + ": no installer stub there; pass --stub FILE or put SETUP.EXE beside "
                   "globpack");
        return false;
    }
    const uintmax_t size = fs::file_size(path, ec);
    if (ec || size > static_cast<uintmax_t>(MaxStubSize)) {
        PrintError(name + ": " + (ec ? "cannot be examined (" + ec.message() + ")"
                                     : "is " + std::to_string(size) + " bytes, more than the " +
                                           std::to_string(MaxStubSize) +
                                           " that leave room for the archive") +
                   "; pass a suitable --stub");
        return false;
    }
    std::ifstream input(path, std::ios::binary);
    stub->resize(static_cast<size_t>(size));
    if (!input.read(reinterpret_cast<char*>(stub->data()), static_cast<std::streamsize>(size))) {
        PrintError(name + ": cannot be read; check its permissions");
        return false;
    }
    if ((size < 2 || (*stub)[0] != 'M' || (*stub)[1] != 'Z'))
        PrintError("warning: " + name +
                   ": does not start like a Windows program; the installer will not run");
    return true;
}

// Converts the six texts to the code page; false after reporting every one that does not fit.
bool BuildHeader(const Options& options, int codePage, SetupHeader* header) {
    bool ok = true;
    for (int i = 0; i < HeaderTextCount; ++i) {
        std::string bytes;
        if (!ToCodePage(options.texts[i], codePage, &bytes)) {
            PrintError(std::string(kTextOptions[i]) + ": \"" + options.texts[i] +
                       "\" cannot be written in code page " + std::to_string(codePage) +
                       "; change the text or the --code-page");
            ok = false;
        } else if (bytes.size() > HeaderFieldSize - 1) {
            PrintError(std::string(kTextOptions[i]) + ": \"" + options.texts[i] + "\" is " +
                       std::to_string(bytes.size()) + " bytes in code page " +
                       std::to_string(codePage) + ", more than 63; shorten it");
            ok = false;
        } else {
            std::memcpy(HeaderText(*header, i), bytes.c_str(), bytes.size() + 1);
        }
    }
    return ok;
}

bool Inside(const fs::path& inner, const fs::path& outer) {
    std::error_code ec;
    const fs::path a = fs::weakly_canonical(inner, ec);
    if (ec) return false;
    const fs::path b = fs::weakly_canonical(outer, ec);
    if (ec) return false;
    auto ai = a.begin();
    for (auto bi = b.begin(); bi != b.end(); ++bi, ++ai) {
        if (bi->empty()) continue;  // the empty element after a trailing separator
        if (ai == a.end() || *ai != *bi) return false;
    }
    return true;
}

std::string Percent(uint64_t part, uint64_t whole) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f%%", whole ? 100.0 * part / whole : 0.0);
    return text;
}

// Empty when the Program Manager item will find its program among the members.
std::string ExeProblem(const std::string& exe, const std::vector<SourceFile>& files) {
    if (exe.empty())
        return "not given; the installer's Program Manager item will start nothing: name the "
               "application's program";
    for (const SourceFile& file : files)
        if (FoldCase(file.relativeName) == FoldCase(exe)) return std::string();
    return exe + " is not among the files; the Program Manager item will start nothing: check "
                 "the name";
}

void PrintSummary(const Options& options, size_t members, size_t excluded,
                  const PackResult& result, double seconds) {
    std::string volumes;
    for (const std::string& name : result.volumes) volumes += (volumes.empty() ? "" : ", ") + name;
    std::printf("%s: %s%s\n", options.outDir.c_str(), volumes.c_str(),
                options.verify ? " (verified)" : "");
    std::printf("  members    %zu\n", members);
    if (excluded) std::printf("  excluded   %zu (files and directories)\n", excluded);
    std::printf("  bytes in   %llu\n", static_cast<unsigned long long>(result.bytesIn));
    std::printf("  bytes out  %llu (%s of the input; %llu with the stub)\n",
                static_cast<unsigned long long>(result.streamLength),
                Percent(result.streamLength, result.bytesIn).c_str(),
                static_cast<unsigned long long>(result.bytesWritten));
    std::printf("  volumes    %zu\n", result.volumes.size());
    if (options.groupGiven)
        std::printf("  group      %s\n", options.group.c_str());
    else
        std::printf("  group      none: the item goes to Program Manager's \"New Group\" (see --group)\n");
    std::printf("  elapsed    %.2f s\n", seconds);
}

int Run(const Options& options) {
    int codePage = 0;
    if (!ParseCodePage(options.codePageText, &codePage)) {
        PrintError("--code-page: \"" + options.codePageText +
                   "\" is not a single-byte code page this system converts; use one of " +
                   SupportedCodePages());
        return kExitUsage;
    }
    MemberRules rules;
    rules.codePage = codePage;
    if (const char* epoch = std::getenv("SOURCE_DATE_EPOCH")) {
        if (!ParseEpoch(epoch, &rules.latestTime)) {
            PrintError(std::string("SOURCE_DATE_EPOCH: \"") + epoch +
                       "\" is not a count of seconds since 1970; set a whole number or unset it");
            return kExitUsage;
        }
        rules.clampTimes = true;
    }
    rules.keepAccessTimes = options.keepAccessTimes;
    const fs::path source = fs::u8path(options.sourceDir);
    const fs::path out = fs::u8path(options.outDir);
    std::error_code ec;
    const fs::file_status sourceStatus = fs::status(source, ec);
    if (!fs::exists(sourceStatus)) {
        PrintError(options.sourceDir + ": no such file or directory; name the directory or the "
                   "file to pack");
        return kExitUsage;
    }
    const bool sourceIsDirectory = fs::is_directory(sourceStatus);
    if (!sourceIsDirectory && !fs::is_regular_file(sourceStatus)) {
        PrintError(options.sourceDir + ": neither a directory nor a regular file; name the "
                   "directory or the file to pack");
        return kExitUsage;
    }
    if (sourceIsDirectory && Inside(out, source)) {
        PrintError(options.outDir + ": lies inside SOURCE, so a later run would pack the "
                   "installer; choose an output directory outside " + options.sourceDir);
        return kExitUsage;
    }
    if (options.textGiven[3]) {
        const std::string problem = DefaultDirProblem(options.texts[3]);
        if (!problem.empty()) {
            PrintError("--default-dir: \"" + options.texts[3] + "\" " + problem);
            return kExitUsage;
        }
    }

    Options texts = options;
    const fs::path canonical = fs::weakly_canonical(source, ec);
    // A single file gives its name without the extension: ATLAS.EXE proposes C:\ATLAS.
    const std::string sourceName =
        (sourceIsDirectory ? canonical.filename() : source.stem()).u8string();
    if (!texts.textGiven[0]) texts.texts[0] = sourceName;
    if (!texts.textGiven[1]) texts.texts[1] = texts.texts[0] + " Setup";
    if (!texts.textGiven[3]) texts.texts[3] = "C:\\" + sourceName;
    SetupHeader header = {};
    const bool headerOk = BuildHeader(texts, codePage, &header);
    rules.defaultDir = header.defaultDir;

    fs::path stubPath = fs::u8path(options.stub);
    if (options.stub.empty() && !DefaultStubPath(&stubPath)) {
        PrintError("SETUP.EXE: cannot find the directory globpack runs from; pass --stub FILE");
        return kExitRefused;
    }
    std::vector<uint8_t> stub;
    if (!ReadStub(stubPath, &stub)) return kExitRefused;
    StubChanges changes;
    changes.licensePath = options.license;
    changes.iconPath = options.icon;
    changes.codePage = codePage;
    if (options.groupGiven) {
        const std::string problem = GroupNameProblem(options.group, codePage, &changes.groupName);
        if (!problem.empty()) {
            PrintError("--group: \"" + options.group + "\" " + problem);
            return kExitUsage;
        }
        changes.group = true;
    }
    std::string stubError;
    if (!CustomizeStub(changes, stubPath.u8string(), &stub, &stubError)) {
        PrintError(stubError);
        return kExitRefused;
    }

    std::vector<SourceFile> files;
    Diagnostics diagnostics;
    ScanOptions scan;
    scan.followLinks = options.followLinks;
    for (const std::string& pattern : options.excludes) scan.excludes.emplace_back(pattern);
    const size_t excluded = ScanSourceTree(source, options.sourceDir, scan, &files, &diagnostics);
    const uint64_t totalSize = PrepareMembers(&files, rules, options.sourceDir, &diagnostics);
    header.totalSize = static_cast<uint32_t>(totalSize);
    if (!options.noIntegrity && diagnostics.errors.empty()) {
        // Room for every member's CRCs; PackInstaller fills it in once the members are coded.
        StubChanges room;
        room.integrity = true;
        room.integrityMembers = files.size();
        if (!CustomizeStub(room, stubPath.u8string(), &stub, &stubError)) {
            PrintError(stubError);
            return kExitRefused;
        }
    }
    const std::string exeProblem = ExeProblem(texts.texts[5], files);
    if (!exeProblem.empty()) diagnostics.warnings.push_back("--exe: " + exeProblem);
    PrintMessages(diagnostics.warnings, "warning: ", options.verbose);
    PrintMessages(diagnostics.errors, "", options.verbose);
    if (!headerOk || !diagnostics.errors.empty()) return kExitRefused;

    const bool outExisted = fs::is_directory(out, ec);
    if (!outExisted && !fs::create_directories(out, ec)) {
        PrintError(options.outDir + ": cannot be created (" + ec.message() +
                   "); choose another output directory");
        return kExitRefused;
    }

    const auto start = std::chrono::steady_clock::now();
    TerminalProgress progress(!options.quiet);
    PackResult result;
    std::string error;
    const MemberPacked memberPacked = [&](const SourceFile& file, uint64_t coded) {
        if (!options.verbose) return;
        progress.Clear();
        std::printf("%-40s %12llu -> %12llu\n", file.displayName.c_str(),
                    static_cast<unsigned long long>(file.facts.size),
                    static_cast<unsigned long long>(coded));
    };
    const unsigned threads =
        options.threads ? options.threads : std::min(CoreCount(), kMostThreads);
    if (!PackInstaller(files, header, stub, !options.noIntegrity, threads, out, progress,
                       memberPacked, &result, &error)) {
        progress.Clear();
        PrintError(error);
        if (!outExisted) fs::remove(out, ec);  // removes only an empty directory
        return kExitRefused;
    }
    if (!options.quiet) PrintMessages(result.notes, "", options.verbose);
    if (options.verify && !VerifyInstaller(out, header, files, progress, &error)) {
        progress.Clear();
        PrintError(error);
        return kExitRefused;
    }
    progress.Clear();

    if (!options.quiet)
        PrintSummary(options, files.size(), excluded, result,
                     std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
    return 0;
}

// How each key of a --config file is applied.
enum class KeyKind { Text, Path, Flag, List, Threads };

struct ConfigKey {
    const char* key;
    KeyKind kind;
    std::string* text;
    bool* flag;
    std::vector<std::string>* list;
    const char* option;  // the command-line option it stands for; nullptr for SOURCE
    unsigned* count = nullptr;
};

// Fills the options the command line left unset from the file. Returns 0, or kExitUsage after
// saying which line is wrong.
int ApplyConfig(const CLI::App& app, Options* options) {
    const std::string& name = options->configPath;
    std::vector<uint8_t> bytes;
    std::string error;
    if (!ReadInputFile(name, "configuration file", kMostConfigBytes, &bytes, &error)) {
        PrintError("--config: " + error);
        return kExitUsage;
    }
    std::vector<ConfigEntry> entries;
    if (!ParseConfig(std::string(bytes.begin(), bytes.end()), &entries, &error)) {
        PrintError(name + ": " + error);
        return kExitUsage;
    }
    std::vector<ConfigKey> keys = {
        {"source", KeyKind::Path, &options->sourceDir, nullptr, nullptr, nullptr},
        {"output", KeyKind::Path, &options->outDir, nullptr, nullptr, "--output"},
        {"stub", KeyKind::Path, &options->stub, nullptr, nullptr, "--stub"},
        {"license", KeyKind::Path, &options->license, nullptr, nullptr, "--license"},
        {"icon", KeyKind::Path, &options->icon, nullptr, nullptr, "--icon"},
        {"group", KeyKind::Text, &options->group, nullptr, nullptr, "--group"},
        {"code-page", KeyKind::Text, &options->codePageText, nullptr, nullptr, "--code-page"},
        {"exclude", KeyKind::List, nullptr, nullptr, &options->excludes, "--exclude"},
        {"verify", KeyKind::Flag, nullptr, &options->verify, nullptr, "--verify"},
        {"threads", KeyKind::Threads, nullptr, nullptr, nullptr, "--threads", &options->threads},
        {"quiet", KeyKind::Flag, nullptr, &options->quiet, nullptr, "--quiet"},
        {"verbose", KeyKind::Flag, nullptr, &options->verbose, nullptr, "--verbose"},
        {"follow-symlinks", KeyKind::Flag, nullptr, &options->followLinks, nullptr,
         "--follow-symlinks"},
        {"keep-access-times", KeyKind::Flag, nullptr, &options->keepAccessTimes, nullptr,
         "--keep-access-times"},
    };
    for (int i = 0; i < HeaderTextCount; ++i)
        keys.push_back({kTextOptions[i] + 2, KeyKind::Text, &options->texts[i], nullptr, nullptr,
                        kTextOptions[i]});
    std::string known;
    for (const ConfigKey& key : keys) known += (known.empty() ? "" : ", ") + std::string(key.key);

    // Paths in the file are relative to the file, wherever globpack runs.
    const fs::path base = fs::u8path(name).parent_path();
    std::vector<std::string> seen;
    for (const ConfigEntry& entry : entries) {
        const std::string where = name + ": line " + std::to_string(entry.line) + ": ";
        const auto key = std::find_if(keys.begin(), keys.end(),
                                      [&](const ConfigKey& k) { return entry.key == k.key; });
        if (key == keys.end()) {
            std::string hint = "the keys are " + known;
            std::string dashed = entry.key;
            std::replace(dashed.begin(), dashed.end(), '_', '-');
            for (const ConfigKey& k : keys)
                if (dashed == k.key) hint = "did you mean " + dashed + "?";
            PrintError(where + "unknown key \"" + entry.key + "\"; " + hint);
            return kExitUsage;
        }
        if (key->kind != KeyKind::List) {
            if (std::find(seen.begin(), seen.end(), entry.key) != seen.end()) {
                PrintError(where + entry.key + " is given twice; keep one");
                return kExitUsage;
            }
            seen.push_back(entry.key);
            if (entry.array) {
                PrintError(where + entry.key + " takes one value, not an array");
                return kExitUsage;
            }
        }
        const bool onCommandLine =
            key->option ? app.count(key->option) > 0 : !options->sourceDir.empty();
        const std::string& value = entry.values.empty() ? std::string() : entry.values[0];
        switch (key->kind) {
        case KeyKind::Flag:
            if (!entry.bare || (value != "true" && value != "false")) {
                PrintError(where + entry.key + " is true or false, not \"" + value + "\"");
                return kExitUsage;
            }
            if (!onCommandLine) *key->flag = value == "true";
            break;
        case KeyKind::Text:
            if (!onCommandLine) *key->text = value;
            break;
        case KeyKind::Path:
            if (!onCommandLine) {
                const fs::path path = fs::u8path(value);
                *key->text = path.is_absolute() || base.empty() ? value : (base / path).u8string();
            }
            break;
        case KeyKind::List:
            key->list->insert(key->list->end(), entry.values.begin(), entry.values.end());
            break;
        case KeyKind::Threads: {
            const bool digits = !value.empty() && value.size() <= 2 &&
                                value.find_first_not_of("0123456789") == std::string::npos;
            const unsigned count = digits ? static_cast<unsigned>(std::stoul(value)) : 0;
            if (!entry.bare || count < 1 || count > kMostThreads) {
                PrintError(where + entry.key + " is a whole number from 1 to " +
                           std::to_string(kMostThreads) + ", not \"" + value + "\"");
                return kExitUsage;
            }
            if (!onCommandLine) *key->count = count;
            break;
        }
        }
        if (key->text == &options->group && !onCommandLine) options->groupGiven = true;
        if (key->kind == KeyKind::Text && !onCommandLine) {
            for (int i = 0; i < HeaderTextCount; ++i)
                if (key->text == &options->texts[i]) options->textGiven[i] = true;
        }
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    Options options;
    CLI::App app("globpack " GLOB_VERSION ": builds a self-extracting installer from the files of "
                 "a directory, or from one file: writes OUT_DIR/SETUP.EXE and, when the archive "
                 "needs more room, GLOB1.DAT, GLOB2.DAT, ... of one floppy disk each.",
                 "globpack");
    app.footer(kFooter);
    // Otherwise, on Windows, an absolute POSIX path such as /tmp/src (Wine) reads as an option.
    app.allow_windows_style_options(false);
    app.set_version_flag("--version", "globpack " GLOB_VERSION, "Print the version and exit");
    app.add_option("SOURCE", options.sourceDir,
                   "The directory whose files are installed, or a single file")
        ->type_name("");
    app.add_option("-o,--output", options.outDir, "Where SETUP.EXE and its volumes are written")
        ->type_name("OUT_DIR");
    const char* const textHelp[HeaderTextCount] = {
        "Application name: the installer's title (default: SOURCE's name)",
        "Caption of the installer's pages (default: \"<name> Setup\")",
        "Second line of the drive page",
        "Proposed install directory, absolute: C:\\APP (default: C:\\<SOURCE's name>)",
        "Version text carried in the header",
        "The application's program, relative to the install directory"};
    for (int i = 0; i < HeaderTextCount; ++i)
        app.add_option(kTextOptions[i], options.texts[i], textHelp[i])->type_name("TEXT");
    app.add_option("--config", options.configPath,
                   "Read options from a TOML or INI file (described below)")
        ->type_name("FILE");
    app.add_option("--exclude", options.excludes,
                   "Leave out the files and directories whose member path matches PATTERN "
                   "(repeatable; syntax below)")
        ->type_name("PATTERN")
        ->take_all()
        ->allow_extra_args(false);
    app.add_flag("--follow-symlinks", options.followLinks,
                 "Pack the targets of symbolic links (and Windows junctions) instead of "
                 "refusing them; loops are refused still");
    app.add_flag("--keep-access-times", options.keepAccessTimes,
                 "Record the real last-access (and, on POSIX, birth) times instead of the "
                 "last-write time: the installer then depends on when its files were read");
    app.add_option("--stub", options.stub,
                   "The installer program to put in front of the archive (default: SETUP.EXE "
                   "beside globpack)")
        ->type_name("FILE");
    app.add_option("--license", options.license,
                   "Agreement text for the installer's first page: a UTF-8 text file, written "
                   "in the --code-page (a character it cannot hold is refused); LF and lone CR "
                   "line ends become CR LF (default: the stub's own text)")
        ->type_name("FILE");
    app.add_option("--icon", options.icon,
                   "Icon file (.ico) for SETUP.EXE: replaces the stub's icon group 1")
        ->type_name("FILE");
    app.add_option("--group", options.group,
                   "Program Manager group for the program's item, at most 63 bytes in the "
                   "--code-page (default: the installer creates \"Vornhelm Software\" and adds "
                   "the item to the group \"New Group\")")
        ->type_name("NAME");
    app.add_option("--code-page", options.codePageText,
                   "Code page of names, header texts and the agreement text: a number (1252, "
                   "437, 850, 1250, 1251, ...) or a name (windows-1252, cp437)")
        ->capture_default_str()
        ->type_name("CP");
    app.add_flag("--no-integrity", options.noIntegrity,
                 "Leave out the integrity data (a CRC-32 of the header and of every member's record "
                 "and bytes, which SETUP.EXE and globx check); for comparing with older builders");
    app.add_option("-j,--threads", options.threads,
                   "Code N members at once, each on a thread of its own (default: one per core, "
                   "at most 64); the installer is the same, byte for byte, for any N")
        ->type_name("N")
        ->check(CLI::Range(1u, kMostThreads));
    app.add_flag("--verify", options.verify,
                 "Read the installer back and compare every file with its source");
    CLI::Option* quiet = app.add_flag("-q,--quiet", options.quiet,
                                      "Print only warnings and errors: no progress, no summary");
    app.add_flag("-v,--verbose", options.verbose,
                 "List every member as it is packed, and every refused name")
        ->excludes(quiet);

    const std::vector<std::string> arguments = Utf8Arguments(argc, argv);
    std::vector<char*> pointers;
    for (const std::string& argument : arguments) pointers.push_back(const_cast<char*>(argument.c_str()));
    try {
        app.parse(static_cast<int>(pointers.size()), pointers.data());
    } catch (const CLI::ParseError& e) {
        if (e.get_exit_code() == 0) return app.exit(e);
        PrintError(std::string(e.what()) + "; see globpack --help");
        return kExitUsage;
    }
    for (int i = 0; i < HeaderTextCount; ++i)
        options.textGiven[i] = app.count(kTextOptions[i]) > 0;
    options.groupGiven = app.count("--group") > 0;
    if (!options.configPath.empty()) {
        if (const int status = ApplyConfig(app, &options)) return status;
    }
    if (options.sourceDir.empty()) {
        PrintError("no SOURCE given: name the directory or file to pack; see globpack --help");
        return kExitUsage;
    }
    if (options.outDir.empty()) {
        PrintError("no output directory given: pass -o OUT_DIR; see globpack --help");
        return kExitUsage;
    }
    if (options.quiet && options.verbose) {
        PrintError("--quiet and --verbose exclude each other (one came from --config); keep one");
        return kExitUsage;
    }
    return Run(options);
}
