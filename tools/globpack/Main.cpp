#include <CLI/CLI.hpp>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>

#include "ArchiveWriter.h"
#include "CodePage.h"
#include "MemberName.h"
#include "Pack.h"
#include "PackPlatform.h"
#include "SetupHeader.h"
#include "SourceTree.h"
#include "StubEdit.h"
#include "TerminalProgress.h"
#include "UnixTime.h"
#include "Verify.h"

namespace fs = std::filesystem;

namespace {

constexpr int kExitUsage = 1;
constexpr int kExitRefused = 2;
constexpr size_t kMostMessages = 20;

const char kFooter[] = R"(Members are the regular files below SOURCE_DIR, named by their path relative to it
with '\' between directories, in the installer's code page and sorted by those bytes.
Each keeps its creation (where the file system records one, else last-write), last-access
and last-write time; SOURCE_DATE_EPOCH, when set, caps every time. The same input gives
the same installer, byte for byte.

Refused, before anything is written: symbolic links, devices, FIFOs and sockets; names
Windows does not allow (control characters, < > : " / | ? * and '\' within a name,
device names such as CON or LPT1, a trailing dot or space); names the code page cannot
write, or that hold the byte 0xFF after the first; names that differ only in case; a file
of 4 GiB or more, or 4 GiB in all; an empty SOURCE_DIR; a header text over 63 bytes;
an agreement text holding a NUL byte, bytes that are not UTF-8 or a character the code
page cannot hold, or one that leaves the first floppy no room for the archive.
Directories without files are left out with a warning.

--license and --icon rewrite the resources of the stub's copy in SETUP.EXE (the stub
file itself is left alone): the new data goes behind the existing resources, so the
stub grows by about the size of the text or icon.

--config FILE reads the long options (name = "...", caption = "...", ...) from a TOML
or INI file; options on the command line win.

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
    std::string codePageText = "windows-1252";
    bool verify = false;
    bool noIntegrity = false;
    bool quiet = false;
    bool verbose = false;
};

// The option that sets each header text, in stored order.
const char* const kTextOptions[HeaderTextCount] = {"--name",         "--caption", "--subtitle",
                                                   "--default-dir", "--version-text", "--exe"};

void PrintError(const std::string& message) {
    std::fprintf(stderr, "globpack: %s\n", message.c_str());
}

// Each list ends after kMostMessages lines: a tree full of bad names must not flood the terminal.
void PrintMessages(const std::vector<std::string>& messages, const char* kind) {
    for (size_t i = 0; i < messages.size() && i < kMostMessages; ++i)
        std::fprintf(stderr, "globpack: %s%s\n", kind, messages[i].c_str());
    if (messages.size() > kMostMessages)
        std::fprintf(stderr, "globpack: %s%zu more not shown\n", kind,
                     messages.size() - kMostMessages);
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
        return "not given; the Program Manager item will start nothing: name the application's "
               "program";
    for (const SourceFile& file : files)
        if (FoldCase(file.relativeName) == FoldCase(exe)) return std::string();
    return exe + " is not among the files; the Program Manager item will start nothing: check "
                 "the name";
}

void PrintSummary(const Options& options, size_t members, const PackResult& result,
                  double seconds) {
    std::string volumes;
    for (const std::string& name : result.volumes) volumes += (volumes.empty() ? "" : ", ") + name;
    std::printf("%s: %s%s\n", options.outDir.c_str(), volumes.c_str(),
                options.verify ? " (verified)" : "");
    std::printf("  members    %zu\n", members);
    std::printf("  bytes in   %llu\n", static_cast<unsigned long long>(result.bytesIn));
    std::printf("  bytes out  %llu (%s of the input; %llu with the stub)\n",
                static_cast<unsigned long long>(result.streamLength),
                Percent(result.streamLength, result.bytesIn).c_str(),
                static_cast<unsigned long long>(result.bytesWritten));
    std::printf("  volumes    %zu\n", result.volumes.size());
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
    const fs::path source = fs::u8path(options.sourceDir);
    const fs::path out = fs::u8path(options.outDir);
    std::error_code ec;
    if (!fs::is_directory(source, ec)) {
        PrintError(options.sourceDir + ": not a directory; name the directory to pack");
        return kExitUsage;
    }
    if (Inside(out, source)) {
        PrintError(options.outDir + ": lies inside SOURCE_DIR, so a later run would pack the "
                   "installer; choose an output directory outside " + options.sourceDir);
        return kExitUsage;
    }

    Options texts = options;
    const std::string sourceName = fs::weakly_canonical(source, ec).filename().u8string();
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
    std::string stubError;
    if (!CustomizeStub(changes, stubPath.u8string(), &stub, &stubError)) {
        PrintError(stubError);
        return kExitRefused;
    }

    std::vector<SourceFile> files;
    Diagnostics diagnostics;
    ScanSourceTree(source, options.sourceDir, &files, &diagnostics);
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
    PrintMessages(diagnostics.warnings, "warning: ");
    PrintMessages(diagnostics.errors, "");
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
    if (!PackInstaller(files, header, stub, !options.noIntegrity, out, progress, memberPacked, &result,
                       &error)) {
        progress.Clear();
        PrintError(error);
        if (!outExisted) fs::remove(out, ec);  // removes only an empty directory
        return kExitRefused;
    }
    if (!options.quiet) PrintMessages(result.notes, "");
    if (options.verify && !VerifyInstaller(out, header, files, progress, &error)) {
        progress.Clear();
        PrintError(error);
        return kExitRefused;
    }
    progress.Clear();

    if (!options.quiet)
        PrintSummary(options, files.size(), result,
                     std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    Options options;
    CLI::App app("globpack [options] SOURCE_DIR -o OUT_DIR\n\nBuilds a self-extracting installer "
                 "from the files of a directory: writes OUT_DIR/SETUP.EXE and, when the archive "
                 "needs more room, GLOB1.DAT, GLOB2.DAT, ... of one floppy disk each.",
                 "globpack");
    app.footer(kFooter);
    // Otherwise, on Windows, an absolute POSIX path such as /tmp/src (Wine) reads as an option.
    app.allow_windows_style_options(false);
    app.set_version_flag("--version", "globpack " GLOB_VERSION, "Print the version and exit");
    app.add_option("SOURCE_DIR", options.sourceDir, "The directory whose files are installed")
        ->required()
        ->type_name("");
    app.add_option("-o,--output", options.outDir, "Where SETUP.EXE and its volumes are written")
        ->required()
        ->type_name("OUT_DIR");
    const char* const textHelp[HeaderTextCount] = {
        "Application name: the installer's title (default: SOURCE_DIR's name)",
        "Caption of the installer's pages (default: \"<name> Setup\")",
        "Second line of the drive page",
        "Proposed install directory (default: C:\\<SOURCE_DIR's name>)",
        "Version text carried in the header",
        "The application's program, relative to the install directory"};
    for (int i = 0; i < HeaderTextCount; ++i)
        app.add_option(kTextOptions[i], options.texts[i], textHelp[i])->type_name("TEXT");
    app.set_config("--config", "", "Read options from a TOML or INI file")
        ->check(CLI::ExistingFile)
        ->type_name("FILE");
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
    app.add_option("--code-page", options.codePageText,
                   "Code page of names, header texts and the agreement text: a number (1252, "
                   "437, 850, 1250, 1251, ...) or a name (windows-1252, cp437)")
        ->capture_default_str()
        ->type_name("CP");
    app.add_flag("--no-integrity", options.noIntegrity,
                 "Leave out the integrity data (a CRC-32 of the header and of every member's record "
                 "and bytes, which SETUP.EXE and globx check); for comparing with older builders");
    app.add_flag("--verify", options.verify,
                 "Read the installer back and compare every file with its source");
    CLI::Option* quiet = app.add_flag("-q,--quiet", options.quiet,
                                      "Print only warnings and errors: no progress, no summary");
    app.add_flag("-v,--verbose", options.verbose, "List every member as it is packed")
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
    return Run(options);
}
