// Times the core's coder against the plain baseline on text, executables and random bytes, after
// checking that both agree bit for bit. By default it prints a table of paired runs: per corpus
// and direction, the one-thread CPU time of both coders in N pairs, with the median ratio and
// its range, and without --corpus also on the three corpora joined ("mixed"); then, without
// --corpus, the all-core decode table (AllCoreDecode.h). Own flags:
// --check_only (run the checks, time nothing), --corpus_mib=N (bytes per corpus, default 4 MiB),
// --pairs=N (default 5), --corpus=NAME (text, binary or random only). Any --benchmark_* flag runs
// the Google Benchmark cases as well (e.g. --benchmark_filter=decode/text).

#include <benchmark/benchmark.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <system_error>
#include <vector>

#include "AllCoreEncode.h"
#include "AllCoreDecode.h"
#include "BenchCorpus.h"
#include "CoderAgreement.h"
#include "CoderRuns.h"
#include "Crc32.h"
#include "InstallerImage.h"
#include "PairedTiming.h"
#include "Threads.h"

namespace {

constexpr size_t DefaultCorpusMiB = 4;
constexpr size_t MaxCorpusMiB = 64;
constexpr int DefaultPairs = 5;
constexpr int MaxPairs = 101;
constexpr size_t MemberSize = 1 << 20;
constexpr size_t StubSize = 4096;
constexpr uint64_t RandomSeed = 20240101;

struct Workload {
    Corpus corpus;
    std::vector<MemberInput> members;
    std::unique_ptr<InstallerImage> image;
    uint64_t codedBytes = 0;  // the members' bit streams, without records
};

class ScratchDirectory {
public:
    ScratchDirectory() {
        std::error_code error;
        const std::filesystem::path temp = std::filesystem::temp_directory_path(error);
        std::string pattern = (temp / "bench_coder-XXXXXX").string();
        if (!error && mkdtemp(pattern.data()) != nullptr) path = pattern;
    }
    ~ScratchDirectory() {
        std::error_code error;
        if (!path.empty()) std::filesystem::remove_all(path, error);
    }
    std::string path;  // empty when it could not be made
};

// Prints as the console reporter does and keeps the rates for the table: the median aggregate
// when repetitions produce one, otherwise the median of the runs themselves.
class TableReporter : public benchmark::ConsoleReporter {
public:
    TableReporter() : ConsoleReporter(isatty(STDOUT_FILENO) ? OO_ColorTabular : OO_Tabular) {}

    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& run : runs) {
            const auto rate = run.counters.find("bytes_per_second");
            if (run.error_occurred || rate == run.counters.end()) continue;
            const std::string& name = run.run_name.function_name;
            if (run.run_type == Run::RT_Iteration) {
                runRates[name].push_back(rate->second.value);
            } else if (run.aggregate_name == "median") {
                medianRates[name] = rate->second.value;
            }
        }
        ConsoleReporter::ReportRuns(runs);
    }

    // In MiB/s; 0 when the benchmark did not run.
    double MiBPerSecond(const std::string& name) const {
        double rate = 0;
        const auto median = medianRates.find(name);
        const auto found = runRates.find(name);
        if (median != medianRates.end()) {
            rate = median->second;
        } else if (found != runRates.end() && !found->second.empty()) {
            std::vector<double> values = found->second;
            std::sort(values.begin(), values.end());
            rate = values[values.size() / 2];
        }
        return rate / (1024.0 * 1024.0);
    }

private:
    std::map<std::string, std::vector<double>> runRates;
    std::map<std::string, double> medianRates;
};

void SetThroughput(benchmark::State& state, const Workload& workload) {
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                            static_cast<int64_t>(workload.corpus.bytes.size()));
}

void DecodeBaseline(benchmark::State& state, const Workload* workload) {
    for (auto _ : state) {
        CountingSink sink;
        const ArchiveRun run = DecodeWithBaseline(*workload->image, sink);
        if (!run.error.empty()) {
            state.SkipWithError(run.error.c_str());
            break;
        }
        benchmark::DoNotOptimize(sink.bytes);
    }
    SetThroughput(state, *workload);
}

void DecodeCore(benchmark::State& state, const Workload* workload) {
    for (auto _ : state) {
        const ArchiveRun run = DecodeWithCore(*workload->image, nullptr);
        if (!run.error.empty()) {
            state.SkipWithError(run.error.c_str());
            break;
        }
        benchmark::DoNotOptimize(run.decodedBytes);
    }
    SetThroughput(state, *workload);
}

void EncodeBaseline(benchmark::State& state, const Workload* workload) {
    for (auto _ : state) {
        CountingSink sink;
        EncodeWithBaseline(workload->members, sink);
        benchmark::DoNotOptimize(sink.bytes);
    }
    SetThroughput(state, *workload);
}

void EncodeCore(benchmark::State& state, const Workload* workload) {
    for (auto _ : state) {
        CountingSink sink;
        EncodeWithCore(workload->members, sink);
        benchmark::DoNotOptimize(sink.bytes);
    }
    SetThroughput(state, *workload);
}

std::string BenchmarkName(const char* direction, const Workload& workload, const char* coder) {
    return std::string(direction) + "/" + workload.corpus.name + "/" + coder;
}

void RegisterBenchmarks(const std::vector<Workload>& workloads) {
    for (const Workload& workload : workloads) {
        const Workload* w = &workload;
        const auto add = [w](const char* direction, const char* coder, auto* function) {
            benchmark::RegisterBenchmark(BenchmarkName(direction, *w, coder).c_str(), function, w);
        };
        add("decode", "baseline", DecodeBaseline);
        add("decode", "core", DecodeCore);
        add("encode", "baseline", EncodeBaseline);
        add("encode", "core", EncodeCore);
    }
}

std::string Ratio(double numerator, double denominator) {
    if (numerator <= 0 || denominator <= 0) return "-";
    char text[32];
    std::snprintf(text, sizeof text, "%.2fx", numerator / denominator);
    return text;
}

void PrintTable(const std::vector<Workload>& workloads, const TableReporter& reporter) {
    std::printf("\n%-8s %9s %11s | %-27s | %-27s\n", "corpus", "plain MiB", "coded/plain",
                "decode MiB/s: base  core", "encode MiB/s: base  core");
    for (const Workload& w : workloads) {
        const double decodeBase = reporter.MiBPerSecond(BenchmarkName("decode", w, "baseline"));
        const double decodeCore = reporter.MiBPerSecond(BenchmarkName("decode", w, "core"));
        const double encodeBase = reporter.MiBPerSecond(BenchmarkName("encode", w, "baseline"));
        const double encodeCore = reporter.MiBPerSecond(BenchmarkName("encode", w, "core"));
        std::printf("%-8s %9.2f %10.1f%% | %12.1f %6.1f %7s | %12.1f %6.1f %7s\n",
                    w.corpus.name.c_str(), w.corpus.bytes.size() / (1024.0 * 1024.0),
                    100.0 * static_cast<double>(w.codedBytes) /
                        static_cast<double>(w.corpus.bytes.size()),
                    decodeBase, decodeCore, Ratio(decodeCore, decodeBase).c_str(), encodeBase,
                    encodeCore, Ratio(encodeCore, encodeBase).c_str());
    }
}

double MiBPerSecond(size_t bytes, double seconds) {
    return seconds > 0 ? static_cast<double>(bytes) / (1024.0 * 1024.0) / seconds : 0;
}

// One-thread CPU time, both coders in pairs: MiB/s are medians over the pairs, ratios are per
// pair (baseline time over core time) with their median and range.
void PrintPairedTable(const std::vector<Workload>& workloads, int pairs) {
    std::printf("\nOne thread, CPU time, median of %d pairs (ratio range in brackets)\n", pairs);
    std::printf("%-8s %-6s %11s %11s  %s\n", "corpus", "way", "plain MiB/s", "core MiB/s",
                "core speed-up");
    for (const Workload& w : workloads) {
        const size_t size = w.corpus.bytes.size();
        const PairedResult decode = RunPairs(
            pairs,
            [&w] {
                CountingSink sink;
                DecodeWithBaseline(*w.image, sink);
                benchmark::DoNotOptimize(sink.bytes);
            },
            [&w] {
                const ArchiveRun run = DecodeWithCore(*w.image, nullptr);
                benchmark::DoNotOptimize(run.decodedBytes);
            },
            ThreadCpuSeconds);
        const PairedResult encode = RunPairs(
            pairs,
            [&w] {
                CountingSink sink;
                EncodeWithBaseline(w.members, sink);
                benchmark::DoNotOptimize(sink.bytes);
            },
            [&w] {
                CountingSink sink;
                EncodeWithCore(w.members, sink);
                benchmark::DoNotOptimize(sink.bytes);
            },
            ThreadCpuSeconds);
        const struct {
            const char* way;
            const PairedResult& result;
        } rows[] = {{"decode", decode}, {"encode", encode}};
        for (const auto& row : rows) {
            std::printf("%-8s %-6s %11.1f %11.1f  %s\n", w.corpus.name.c_str(), row.way,
                        MiBPerSecond(size, SpreadOf(row.result.baselineSeconds).median),
                        MiBPerSecond(size, SpreadOf(row.result.coreSeconds).median),
                        FormatRatio(SpreadOf(row.result.ratios)).c_str());
        }
        // Checking the integrity data: a CRC-32 over every decoded byte, as a share of decoding.
        std::vector<double> crcSeconds;
        for (int i = 0; i < pairs; ++i) {
            const double start = ThreadCpuSeconds();
            benchmark::DoNotOptimize(Crc32(0, w.corpus.bytes.data(), size));
            crcSeconds.push_back(ThreadCpuSeconds() - start);
        }
        const double crc = SpreadOf(crcSeconds).median;
        std::printf("%-8s %-6s %11s %11.1f  %.1f%% of the core's decode time\n", w.corpus.name.c_str(),
                    "crc32", "", MiBPerSecond(size, crc),
                    100.0 * crc / SpreadOf(decode.coreSeconds).median);
        std::fflush(stdout);
    }
}

// Takes this program's own flags out of argv; false on a malformed one.
bool ParseOwnFlags(int& argc, char** argv, bool& checkOnly, size_t& corpusMiB, int& pairs,
                   std::string& onlyCorpus, bool& googleBenchmark) {
    int kept = 1;
    for (int i = 1; i < argc; ++i) {
        const char* arg = argv[i];
        if (std::strcmp(arg, "--check_only") == 0) {
            checkOnly = true;
        } else if (std::strncmp(arg, "--corpus=", 9) == 0) {
            onlyCorpus = arg + 9;
            if (onlyCorpus != "text" && onlyCorpus != "binary" && onlyCorpus != "random") {
                std::fprintf(stderr, "bench_coder: %s: the corpus is text, binary or random\n", arg);
                return false;
            }
        } else if (std::strncmp(arg, "--pairs=", 8) == 0) {
            char* end = nullptr;
            const long value = std::strtol(arg + 8, &end, 10);
            if (*end != '\0' || value < 1 || value > MaxPairs) {
                std::fprintf(stderr, "bench_coder: %s: the number of pairs must be 1 to %d\n", arg,
                             MaxPairs);
                return false;
            }
            pairs = static_cast<int>(value);
        } else if (std::strncmp(arg, "--corpus_mib=", 13) == 0) {
            char* end = nullptr;
            const unsigned long value = std::strtoul(arg + 13, &end, 10);
            if (*end != '\0' || value == 0 || value > MaxCorpusMiB) {
                std::fprintf(stderr, "bench_coder: %s: the corpus size must be 1 to %zu MiB\n", arg,
                             MaxCorpusMiB);
                return false;
            }
            corpusMiB = value;
        } else {
            if (std::strncmp(arg, "--benchmark_", 12) == 0) googleBenchmark = true;
            argv[kept++] = argv[i];
        }
    }
    argc = kept;
    return true;
}

bool PrepareWorkload(Corpus corpus, const std::string& scratch, Workload& workload,
                     std::string& error) {
    workload.corpus = std::move(corpus);
    workload.members = SplitIntoMembers(workload.corpus.bytes, MemberSize, workload.corpus.name);
    workload.image = std::make_unique<InstallerImage>(
        BenchHeader(static_cast<uint32_t>(workload.corpus.bytes.size())));
    EncodeIntoImage(workload.members, *workload.image);
    CountingSink coded;
    EncodeWithCore(workload.members, coded);
    workload.codedBytes = coded.bytes;

    const std::string directory = scratch + "/" + workload.corpus.name;
    std::error_code made;
    std::filesystem::create_directory(directory, made);
    if (made) {
        error = directory + ": cannot create the directory: " + made.message();
        return false;
    }
    return workload.image->WriteVolumes(directory, StubSize, error);
}

}  // namespace

int main(int argc, char** argv) {
    bool checkOnly = false;
    bool googleBenchmark = false;
    size_t corpusMiB = DefaultCorpusMiB;
    int pairs = DefaultPairs;
    std::string onlyCorpus;
    if (!ParseOwnFlags(argc, argv, checkOnly, corpusMiB, pairs, onlyCorpus, googleBenchmark))
        return 1;
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;

    ScratchDirectory scratch;
    if (scratch.path.empty()) {
        std::fprintf(stderr, "bench_coder: cannot create a scratch directory; check TMPDIR\n");
        return 1;
    }

    const size_t corpusSize = corpusMiB << 20;
    std::vector<Workload> workloads;
    std::vector<Corpus> corpora;
    corpora.push_back(TextCorpus(corpusSize));
    corpora.push_back(BinaryCorpus(corpusSize));
    corpora.push_back(RandomCorpus(corpusSize, RandomSeed));
    for (Corpus& corpus : corpora) {
        if (!onlyCorpus.empty() && corpus.name != onlyCorpus) continue;
        if (corpus.bytes.empty()) {
            std::fprintf(stderr, "bench_coder: no files found for the %s corpus; skipping it\n",
                         corpus.name.c_str());
            continue;
        }
        std::string error;
        workloads.emplace_back();
        if (!PrepareWorkload(std::move(corpus), scratch.path, workloads.back(), error)) {
            std::fprintf(stderr, "bench_coder: %s\n", error.c_str());
            return 1;
        }
    }

    // One thread on the corpora joined as well: an installer mixes text, executables and data.
    const size_t corpusCount = workloads.size();
    if (onlyCorpus.empty() && corpusCount > 1) {
        Corpus mixed{"mixed", {}};
        for (const Workload& w : workloads) {
            mixed.bytes.insert(mixed.bytes.end(), w.corpus.bytes.begin(), w.corpus.bytes.end());
        }
        std::string error;
        workloads.emplace_back();
        if (!PrepareWorkload(std::move(mixed), scratch.path, workloads.back(), error)) {
            std::fprintf(stderr, "bench_coder: %s\n", error.c_str());
            return 1;
        }
    }
    // Encoding on every core: the same corpora joined, through globpack's worker pipeline.
    std::vector<const std::vector<uint8_t>*> corpusBytes;
    for (size_t i = 0; i < corpusCount; ++i) corpusBytes.push_back(&workloads[i].corpus.bytes);

    std::vector<std::string> failures;
    CheckWorkedExample(scratch.path, failures);
    CheckGeneratedMembers(scratch.path, failures);
    for (const Workload& w : workloads) {
        CheckCorpus(w.corpus, w.members, *w.image, scratch.path + "/" + w.corpus.name, failures);
    }
    CheckAllCoreEncode(corpusBytes, std::max(CoreCount(), 3u), failures);
    for (const std::string& failure : failures) {
        std::fprintf(stderr, "bench_coder: %s\n", failure.c_str());
    }
    if (!failures.empty()) return 2;
    std::printf("bench_coder: the baseline and the core agree on every check\n");
    if (checkOnly) return 0;

    PrintPairedTable(workloads, pairs);
    PrintAllCoreEncodeTable(corpusBytes, CoreCount(), pairs);
    // Wall clock on every core: the mixed corpus, four corpora's worth, as 1 and 64 members.
    if (onlyCorpus.empty() && !PrintAllCoreDecodeTable(scratch.path, corpusSize * 4, pairs)) return 2;
    if (googleBenchmark) {
        RegisterBenchmarks(workloads);
        TableReporter reporter;
        benchmark::RunSpecifiedBenchmarks(&reporter);
        PrintTable(workloads, reporter);
    }
    benchmark::Shutdown();
    return 0;
}
