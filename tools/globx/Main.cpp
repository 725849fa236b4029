#include <CLI/CLI.hpp>

#include <string>

#include "CodePage.h"
#include "Commands.h"

namespace {

const char* const Footer = R"(Verbs:
  globx list INSTALLER [--json] [--volumes DIR] [--code-page CP]
  globx test INSTALLER [--volumes DIR] [--code-page CP]
  globx extract INSTALLER -d DIR [--overwrite] [--volumes DIR] [--code-page CP]
-q/--quiet and -v/--verbose go before or after the verb; "globx VERB --help"
describes a verb's options.

Continuation volumes GLOB1.DAT, GLOB2.DAT, ... are looked for beside the
installer, or in --volumes DIR; lower-case names (glob1.dat) are accepted too.

Names and header texts are stored in an 8-bit code page (--code-page, default
1252) and shown in UTF-8. extract writes names in UTF-8 on POSIX and as stored
on Windows; it keeps an existing file whose last-write time is the same or
newer unless --overwrite, and gives every file its recorded times.

list --json prints one object: programName, caption, subtitle, defaultDir,
versionText, exeName, totalSize, "members" and "complete" (false when the
archive is damaged or a volume is missing). Each member has name, size,
creationTime, lastAccessTime and lastWriteTime. Every time appears twice: the
FILETIME integer (100 ns units since 1601-01-01 UTC) under its own name, and
ISO 8601 UTC text with seven fractional digits under the name plus "Utc":
  "lastWriteTime": 133486382451234567,
  "lastWriteTimeUtc": "2024-01-02T03:04:05.1234567Z"
(null past year 9999). A text with bytes the code page leaves undefined shows
U+FFFD for them and comes with "<key>Bytes", the stored bytes in hex.

Exit status: 0 ok, 1 usage error, 2 damaged or incomplete archive, or a member
that failed.)";

}  // namespace

int main(int argc, char** argv) {
    CLI::App app{"globx " GLOB_VERSION ": lists, tests and extracts globsetup installers", "globx"};
    app.set_version_flag("--version", "globx " GLOB_VERSION);
    // "/tmp/x" is a path, not an option, wherever the tool runs.
    app.allow_windows_style_options(false);
    app.footer(Footer);
    app.require_subcommand(1);
    app.fallthrough();

    CommonOptions options;
    std::string codePage = "1252";
    auto* quiet = app.add_flag("-q,--quiet", options.quiet, "print errors only");
    app.add_flag("-v,--verbose", options.verbose, "list every member handled, more columns")
        ->excludes(quiet);

    const auto addInstaller = [&](CLI::App* verb) {
        verb->add_option("INSTALLER", options.installer, "the installer (volume 0)")->required();
        verb->add_option("--volumes", options.volumesDir, "directory of GLOB1.DAT, GLOB2.DAT, ...")
            ->check(CLI::ExistingDirectory);
    };
    const auto addCodePage = [&](CLI::App* verb) {
        verb->add_option("--code-page", codePage,
                         "code page of the stored names (1252, 437, 850, ...; default 1252)")
            ->check([](const std::string& text) {
                int number;
                return ParseCodePage(text, &number)
                           ? std::string()
                           : "unknown code page " + text + "; known: " + SupportedCodePages();
            });
    };

    bool json = false;
    CLI::App* list = app.add_subcommand("list", "show the header and every member");
    addInstaller(list);
    list->add_flag("--json", json, "print one JSON object (described below)");
    addCodePage(list);

    CLI::App* test = app.add_subcommand("test", "decode every member and check sizes");
    addInstaller(test);
    addCodePage(test);

    std::string directory;
    bool overwrite = false;
    CLI::App* extract = app.add_subcommand("extract", "extract every member under -d DIR");
    addInstaller(extract);
    extract->add_option("-d,--directory", directory, "target directory, created if missing")
        ->required();
    extract->add_flag("--overwrite", overwrite, "replace existing files whatever their times");
    addCodePage(extract);

    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& error) {
        return app.exit(error) == 0 ? 0 : 1;
    }
    ParseCodePage(codePage, &options.codePage);

    if (list->parsed()) return RunList(options, json);
    if (test->parsed()) return RunTest(options);
    return RunExtract(options, directory, overwrite);
}
