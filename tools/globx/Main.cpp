#include <CLI/CLI.hpp>

#include <cstdio>
#include <string>
#include <vector>

#include "CodePage.h"
#include "Commands.h"

namespace {

// Said once, in "globx --help"; each verb's help says only what is its own.
const char* const Footer = R"(INSTALLER is the SETUP.EXE of a set (volume 0). Before anything is printed,
globx checks that it is one: a directory, a continuation volume (GLOB1.DAT, ...),
a bare installer stub, or any other file is refused with one line and exit 2.
Continuation volumes GLOB1.DAT, GLOB2.DAT, ... are looked for beside the
installer under their names in any case (glob1.dat, Glob1.Dat), then in each
--volumes DIR.

Names and header texts are stored in an 8-bit code page (--code-page, default
1252) and shown in UTF-8.

test and extract decode members on every core; -j N (after the verb) sets the
number of threads.

-q/--quiet and -v/--verbose go before or after the verb. "globx help VERB" or
"globx VERB --help" describes a verb.

Exit status: 0 ok, 1 usage error (or a PATTERN that matched no member), 2 not an
installer, a damaged or incomplete archive, or a member that failed.)";

const char* const ListFooter = R"(--json prints one object: programName, caption, subtitle, defaultDir,
versionText, exeName, totalSize, "members" and "complete" (false when the
archive is damaged or a volume is missing). Each member has name, size,
creationTime, lastAccessTime and lastWriteTime. Every time appears twice: the
FILETIME integer (100 ns units since 1601-01-01 UTC) under its own name, and
ISO 8601 UTC text with seven fractional digits under the name plus "Utc":
  "lastWriteTime": 133486382451234567,
  "lastWriteTimeUtc": "2024-01-02T03:04:05.1234567Z"
(null past year 9999). A text with bytes the code page leaves undefined shows
U+FFFD for them and comes with "<key>Bytes", the stored bytes in hex.)";

const char* const ExtractFooter = R"(Writes the members under DIR (default: the current directory), names in UTF-8
on POSIX and as stored on Windows, each with its recorded times. An existing
file whose last-write time is the same or newer is kept unless --overwrite; -v
names every file extracted and every one kept.

PATTERN selects members by their stored path; without one, every member is
extracted. '\' and '/' both separate; '*' is any run of characters and '?' one
character, neither crossing a separator; a component "**" is any number of
directories; ASCII letters match either case. A pattern without a separator
matches a name at any depth ("*.TXT"); one with a separator is matched from the
top ("DATA/*.MAP"); a pattern that matches a directory takes all below it. A
pattern that matches no member is reported, exit 1. Quote patterns so that the
shell leaves them alone.

-j N decodes members on N threads at once (default: one per core), as for
test; messages, progress, files and the exit status are those of one thread.)";

const char* const TestFooter = R"(Decodes every member without writing anything; exit 2 when any is damaged.

-j N decodes members on N threads at once, each reading the installer on its
own; messages, progress, files and the exit status are those of one thread.
The threads find members by the integrity data or, without it, by guessing
where records start; a member decoded ahead is used only when it was decoded
from exactly where the one reader that walks the archive in order finds it.)";

}  // namespace

int main(int argc, char** argv) {
    CLI::App app{"globx " GLOB_VERSION ": lists, tests and extracts globsetup installers", "globx"};
    app.set_version_flag("--version", "globx " GLOB_VERSION);
    // "/tmp/x" is a path, not an option, wherever the tool runs.
    app.allow_windows_style_options(false);
    app.require_subcommand(1);
    app.fallthrough();

    CommonOptions options;
    std::string codePage = "1252";
    auto* quiet = app.add_flag("-q,--quiet", options.quiet, "print errors only");
    app.add_flag("-v,--verbose", options.verbose, "list every member handled, more columns")
        ->excludes(quiet);

    const auto addInstaller = [&](CLI::App* verb) {
        verb->add_option("INSTALLER", options.installer, "the installer (volume 0)")
            ->required()
            ->type_name("");
        verb->add_option("--volumes", options.volumesDirs,
                         "also look for GLOB1.DAT, GLOB2.DAT, ... in DIR (repeatable)")
            ->type_name("DIR")
            ->take_all()
            ->allow_extra_args(false)
            ->check(CLI::ExistingDirectory.description(""));
    };
    const auto addCodePage = [&](CLI::App* verb) {
        verb->add_option("--code-page", codePage,
                         "code page of the stored names (1252, 437, 850, ...; default 1252)")
            ->type_name("CP")
            ->check([](const std::string& text) {
                int number;
                return ParseCodePage(text, &number)
                           ? std::string()
                           : "unknown code page " + text + "; known: " + SupportedCodePages();
            });
    };

    const auto addThreads = [&](CLI::App* verb) {
        verb->add_option("-j,--threads", options.threads,
                         "decode on N threads (default: one per core; 1: one after another)")
            ->type_name("N")
            ->check(CLI::Range(1u, 256u).description(""));
    };

    bool json = false;
    CLI::App* list = app.add_subcommand("list", "show the header and every member");
    addInstaller(list);
    list->add_flag("--json", json, "print one JSON object (described below)");
    addCodePage(list);
    list->footer(ListFooter);

    CLI::App* test = app.add_subcommand("test", "decode every member and check sizes");
    addInstaller(test);
    addCodePage(test);
    addThreads(test);
    test->footer(TestFooter);

    std::string directory = ".";
    bool overwrite = false;
    std::vector<std::string> patterns;
    CLI::App* extract =
        app.add_subcommand("extract", "extract every member, or those that match a PATTERN");
    addInstaller(extract);
    extract->add_option("PATTERN", patterns, "extract only the members whose path matches")
        ->type_name("");
    extract->add_option("-d,--directory", directory,
                        "target directory, created if missing (default: the current directory)")
        ->type_name("DIR");
    extract->add_flag("--overwrite", overwrite, "replace existing files whatever their times");
    addCodePage(extract);
    addThreads(extract);
    extract->footer(ExtractFooter);

    std::string helpVerb;
    CLI::App* help = app.add_subcommand("help", "describe globx, or one verb: globx help VERB");
    help->add_option("VERB", helpVerb, "list, test or extract")->type_name("VERB");
    help->footer("");

    // Set last: a verb created after it would copy it into its own help.
    app.footer(Footer);

    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp&) {
        // "globx VERB --help" describes the verb alone.
        const std::vector<CLI::App*> verbs = app.get_subcommands();
        std::printf("%s", verbs.empty() ? app.help().c_str() : verbs[0]->help("globx").c_str());
        return 0;
    } catch (const CLI::ParseError& error) {
        if (error.get_exit_code() == 0) return app.exit(error);
        std::fprintf(stderr, "globx: %s; see globx --help\n", error.what());
        return 1;
    }
    ParseCodePage(codePage, &options.codePage);

    if (help->parsed()) {
        if (helpVerb.empty()) {
            // app.help() would describe the verb that was parsed, "help" itself.
            std::printf("%s", app.get_formatter()->make_help(&app, "globx", CLI::AppFormatMode::Normal).c_str());
            return 0;
        }
        for (CLI::App* verb : {list, test, extract}) {
            if (verb->get_name() == helpVerb) {
                std::printf("%s", verb->help("globx").c_str());
                return 0;
            }
        }
        std::fprintf(stderr, "globx: help: no verb \"%s\"; the verbs are list, test and extract\n",
                     helpVerb.c_str());
        return 1;
    }
    if (list->parsed()) return RunList(options, json);
    if (test->parsed()) return RunTest(options);
    return RunExtract(options, directory, overwrite, patterns);
}
