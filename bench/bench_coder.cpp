// Times the core's coder against the plain baseline on text, executables and random bytes, after
// checking that both agree bit for bit. Own flags: --check_only (run the checks, time nothing)
// and --corpus_mib=N (bytes per corpus, default 4 MiB); the rest are Google Benchmark's.

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

#include "BenchCorpus.h"
#include "CoderAgreement.h"
#include "CoderRuns.h"
#include "InstallerImage.h"

namespace {

constexpr size_t DefaultCorpusMiB = 4;
constexpr size_t MaxCorpusMiB = 64;
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

// Takes this program's own flags out of argv; false on a malformed one.
bool ParseOwnFlags(int& argc, char** argv, bool& checkOnly, size_t& corpusMiB) {
    int kept = 1;
    for (int i = 1; i < argc; ++i) {
        const char* arg = argv[i];
        if (std::strcmp(arg, "--check_only") == 0) {
            checkOnly = true;
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
    benchmark::Initialize(&argc, argv);
    bool checkOnly = false;
    size_t corpusMiB = DefaultCorpusMiB;
    if (!ParseOwnFlags(argc, argv, checkOnly, corpusMiB)) return 1;
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

    std::vector<std::string> failures;
    CheckWorkedExample(scratch.path, failures);
    CheckGeneratedMembers(scratch.path, failures);
    for (const Workload& w : workloads) {
        CheckCorpus(w.corpus, w.members, *w.image, scratch.path + "/" + w.corpus.name, failures);
    }
    for (const std::string& failure : failures) {
        std::fprintf(stderr, "bench_coder: %s\n", failure.c_str());
    }
    if (!failures.empty()) return 2;
    std::printf("bench_coder: the baseline and the core agree on every check\n");
    if (checkOnly) return 0;

    RegisterBenchmarks(workloads);
    TableReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    PrintTable(workloads, reporter);
    benchmark::Shutdown();
    return 0;
}
