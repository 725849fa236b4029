#include "AllCoreEncode.h"

#include <benchmark/benchmark.h>
#include <time.h>

#include <cstdio>

#include "CoderRuns.h"
#include "PairedTiming.h"
#include "ParallelEncoder.h"

namespace {

constexpr size_t ManyMembers = 64;

std::vector<uint8_t> Mixed(const std::vector<const std::vector<uint8_t>*>& corpora) {
    std::vector<uint8_t> bytes;
    for (const std::vector<uint8_t>* corpus : corpora) bytes.insert(bytes.end(), corpus->begin(), corpus->end());
    return bytes;
}

std::vector<MemberInput> CutInto(const std::vector<uint8_t>& bytes, size_t count) {
    const size_t size = (bytes.size() + count - 1) / count;
    return SplitIntoMembers(bytes, size ? size : 1, "mixed");
}

// Counts what the pipeline hands over, or keeps it when bytes is given.
class BenchOutput : public CodedOutput {
public:
    explicit BenchOutput(std::vector<uint8_t>* bytes = nullptr) : bytes(bytes) {}
    bool BeginMember(size_t) override { return true; }
    bool Write(size_t, const uint8_t* data, size_t count) override {
        if (bytes) bytes->insert(bytes->end(), data, data + count);
        coded += count;
        return true;
    }
    void Progress(size_t, uint64_t inputBytes) override { input += inputBytes; }
    bool EndMember(size_t) override { return true; }

    std::vector<uint8_t>* bytes;
    uint64_t coded = 0;
    uint64_t input = 0;
};

// Each member handed over in 64 KiB reads, as globpack reads a file.
bool EncodeOnThreads(const std::vector<MemberInput>& members, unsigned threads, BenchOutput& output) {
    const MemberJob job = [&members](size_t member, MemberCoder& coder) {
        if (!coder.Begin()) return;
        const MemberInput& input = members[member];
        for (size_t at = 0; at < input.size; at += 1 << 16) {
            const size_t count = std::min<size_t>(1 << 16, input.size - at);
            if (!coder.Put(input.data + at, count)) return;
        }
    };
    ParallelEncoding settings;
    settings.threads = threads;
    std::string error;
    return RunParallelEncoding(settings, members.size(), job, output, &error);
}

double ProcessCpuSeconds() {
    timespec now{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + 1e-9 * static_cast<double>(now.tv_nsec);
}

// Median CPU seconds over wall seconds, run by run: the cores a run actually had. On a machine
// shared with other work the wall-clock ratio depends on it.
double MedianCoresUsed(const std::vector<double>& cpuSeconds, const std::vector<double>& wallSeconds) {
    std::vector<double> cores;
    for (size_t i = 0; i < cpuSeconds.size() && i < wallSeconds.size(); ++i)
        if (wallSeconds[i] > 0) cores.push_back(cpuSeconds[i] / wallSeconds[i]);
    return SpreadOf(cores).median;
}

double MiBPerSecond(size_t bytes, double seconds) {
    return seconds > 0 ? static_cast<double>(bytes) / (1024.0 * 1024.0) / seconds : 0;
}

}  // namespace

void CheckAllCoreEncode(const std::vector<const std::vector<uint8_t>*>& corpora, unsigned threads,
                        std::vector<std::string>& failures) {
    const std::vector<uint8_t> bytes = Mixed(corpora);
    const std::vector<MemberInput> members = CutInto(bytes, ManyMembers);
    VectorSink alone;
    EncodeWithCore(members, alone);
    std::vector<uint8_t> pipelined;
    BenchOutput output(&pipelined);
    if (!EncodeOnThreads(members, threads, output) || pipelined != alone.bytes)
        failures.push_back("the pipeline on " + std::to_string(threads) +
                           " threads does not give the one-thread coder's bytes");
}

void PrintAllCoreEncodeTable(const std::vector<const std::vector<uint8_t>*>& corpora,
                             unsigned threads, int pairs) {
    const std::vector<uint8_t> bytes = Mixed(corpora);
    if (bytes.empty()) return;
    std::printf("\nEncoding the mixed corpus (%.1f MiB: the corpora above joined), median of %d pairs\n"
                "(ratio range in brackets): one-thread CPU time, and wall clock (MiB/s too) with the\n"
                "pipeline on %u threads against the plain coder on one; cores had: CPU time over wall\n"
                "time, which other work on the machine takes from\n",
                bytes.size() / (1024.0 * 1024.0), pairs, threads);
    std::printf("%-8s %11s %11s  %-21s  %-22s  %s\n", "members", "plain MiB/s", "all-core",
                "1-thread CPU speed-up", "all-core wall speed-up", "cores had: plain all-core");
    for (const size_t count : {size_t{1}, ManyMembers}) {
        const std::vector<MemberInput> members = CutInto(bytes, count);
        const auto plain = [&members] {
            CountingSink sink;
            EncodeWithBaseline(members, sink);
            benchmark::DoNotOptimize(sink.bytes);
        };
        const PairedResult cpu = RunPairs(
            pairs, plain,
            [&members] {
                CountingSink sink;
                EncodeWithCore(members, sink);
                benchmark::DoNotOptimize(sink.bytes);
            },
            ThreadCpuSeconds);
        std::vector<double> plainCpu, allCoreCpu;
        const PairedResult wall = RunPairs(
            pairs,
            [&plain, &plainCpu] {
                const double start = ProcessCpuSeconds();
                plain();
                plainCpu.push_back(ProcessCpuSeconds() - start);
            },
            [&members, threads, &allCoreCpu] {
                const double start = ProcessCpuSeconds();
                BenchOutput output;
                EncodeOnThreads(members, threads, output);
                benchmark::DoNotOptimize(output.coded);
                allCoreCpu.push_back(ProcessCpuSeconds() - start);
            },
            WallSeconds);
        std::printf("%-8zu %11.1f %11.1f  %-21s  %-22s  %16.2f %8.2f\n", count,
                    MiBPerSecond(bytes.size(), SpreadOf(wall.baselineSeconds).median),
                    MiBPerSecond(bytes.size(), SpreadOf(wall.coreSeconds).median),
                    FormatRatio(SpreadOf(cpu.ratios)).c_str(), FormatRatio(SpreadOf(wall.ratios)).c_str(),
                    MedianCoresUsed(plainCpu, wall.baselineSeconds),
                    MedianCoresUsed(allCoreCpu, wall.coreSeconds));
        std::fflush(stdout);
    }
}
