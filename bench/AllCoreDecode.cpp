#include "AllCoreDecode.h"

#include <benchmark/benchmark.h>
#include <time.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <system_error>
#include <vector>

#include "BenchCorpus.h"
#include "CoderRuns.h"
#include "Crc32.h"
#include "Extract.h"
#include "HuffmanEncoder.h"
#include "IntegrityTable.h"
#include "MemberDecoders.h"
#include "PairedTiming.h"
#include "GuessingDecoders.h"
#include "Threads.h"
#include "VolumeStream.h"
#include "WorkerState.h"

namespace {

constexpr size_t Turn = 256 << 10;
constexpr size_t StubSize = 4096;
constexpr uint64_t RecordTime = 133485408000000000ull;  // 1 January 2024

// Text and executables in turns, so that every member holds both.
std::vector<uint8_t> MixedCorpus(size_t size) {
    const Corpus text = TextCorpus(size / 2 + Turn);
    const Corpus binary = BinaryCorpus(size / 2 + Turn);
    std::vector<uint8_t> mixed;
    if (text.bytes.empty() || binary.bytes.empty()) return mixed;
    for (size_t at = 0; mixed.size() < size; at += Turn) {
        for (const Corpus* c : {&text, &binary}) {
            const size_t take = std::min({Turn, size - mixed.size(), c->bytes.size() - at % c->bytes.size()});
            const uint8_t* from = c->bytes.data() + at % c->bytes.size();
            mixed.insert(mixed.end(), from, from + take);
        }
    }
    return mixed;
}

// An installer of members with the integrity data globpack would store for it.
struct Installer {
    std::unique_ptr<InstallerImage> image;
    IntegrityTable table;
};

bool BuildInstaller(const std::vector<MemberInput>& members, size_t total, const std::string& directory,
                    Installer& installer, std::string& error) {
    installer.image = std::make_unique<InstallerImage>(BenchHeader(static_cast<uint32_t>(total)));
    InstallerImage& image = *installer.image;
    installer.table.headerCrc = Crc32(0, image.Stream().data(), SetupHeaderSize);
    HuffmanEncoder encoder(image);
    for (const MemberInput& member : members) {
        IntegrityEntry entry;
        entry.recordOffset = image.Stream().size();
        image.AddRecord(member.name.c_str(), static_cast<uint32_t>(member.size), RecordTime, RecordTime,
                        RecordTime);
        entry.recordCrc = Crc32(0, image.Stream().data() + entry.recordOffset,
                                image.Stream().size() - entry.recordOffset);
        entry.dataCrc = Crc32(0, member.data, member.size);
        entry.size = static_cast<uint32_t>(member.size);
        installer.table.entries.push_back(entry);
        encoder.BeginMember();
        encoder.Put(member.data, member.size);
        encoder.EndMember();
    }
    image.AddEndMark();
    std::error_code made;
    std::filesystem::create_directory(directory, made);
    if (made) {
        error = directory + ": cannot create the directory: " + made.message();
        return false;
    }
    return image.WriteVolumes(directory, StubSize, error);
}

// `globx test -j threads`: every member decoded and, with integrity, checked against the
// integrity data (MemberDecoders); without it the threads guess where records start
// (GuessingDecoders).
bool DecodeOnThreads(const Installer& installer, bool integrity, unsigned threads, ExtractResult& result) {
    const InstallerImage& image = *installer.image;
    BenchHost host;
    auto stream = std::make_unique<VolumeStream>(host);
    if (!stream->OpenVolumeSet(image.BaseName().c_str(), image.FirstVolumeName().c_str()) ||
        !stream->PositionAtArchive())
        return false;
    auto state = std::make_unique<WorkerState>();
    ReadSetupHeader(*stream, *state);
    ExtractOptions options;
    options.writeFiles = false;
    options.integrity = integrity ? &installer.table : nullptr;
    const MemberDecoders::Source source{image.FirstVolumeName(), image.BaseName(), {}};
    std::unique_ptr<DecodedAhead> decoders;
    if (threads > 1 && integrity)
        decoders = std::make_unique<MemberDecoders>(source, installer.table, threads);
    else if (threads > 1)
        decoders = std::make_unique<GuessingDecoders>(source, threads);
    options.decodedAhead = decoders.get();
    ExtractAll(*stream, *state, host, result, options);
    return result.Ok();
}

double ProcessCpuSeconds() {
    timespec now{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + 1e-9 * static_cast<double>(now.tv_nsec);
}

double MiBPerSecond(size_t bytes, double seconds) {
    return seconds > 0 ? static_cast<double>(bytes) / (1024.0 * 1024.0) / seconds : 0;
}

}  // namespace

bool PrintAllCoreDecodeTable(const std::string& scratch, size_t corpusBytes, int pairs) {
    const std::vector<uint8_t> corpus = MixedCorpus(corpusBytes);
    if (corpus.empty()) {
        std::fprintf(stderr, "bench_coder: no files for the mixed corpus; the all-core table is left out\n");
        return true;
    }
    const unsigned threads = CoreCount();
    std::printf("\nDecode on all cores (%u threads, as globx test -j %u), wall clock, median of %d pairs\n"
                "against the plain coder on one thread; mixed corpus of %.0f MiB (ratio range in brackets)\n",
                threads, threads, pairs, corpus.size() / (1024.0 * 1024.0));
    // "cores used": the process's CPU time over the wall time of the all-core runs. Below the
    // thread count, other work on the machine held the cores and the speed-up shows that.
    // "integrity": the installer's integrity data tells the threads where records start; "none":
    // they scan for them (globpack --no-integrity).
    std::printf("%-8s %-9s %11s %11s %11s %10s  %s\n", "members", "integrity", "plain MiB/s", "core MiB/s",
                "taken ahead", "cores used", "all-core speed-up");
    for (const bool integrity : {true, false})
    for (const size_t count : {size_t(1), size_t(64)}) {
        const std::vector<MemberInput> members =
            SplitIntoMembers(corpus, (corpus.size() + count - 1) / count, "mixed");
        Installer installer;
        std::string error;
        if (!BuildInstaller(members, corpus.size(), scratch + "/mixed" + std::to_string(count), installer,
                            error)) {
            std::fprintf(stderr, "bench_coder: %s\n", error.c_str());
            return false;
        }
        bool ok = true;
        uint32_t taken = 0;
        double cpu = 0;
        const PairedResult result = RunPairs(
            pairs,
            [&] {
                CountingSink sink;
                ok = DecodeWithBaseline(*installer.image, sink).error.empty() && ok;
                benchmark::DoNotOptimize(sink.bytes);
            },
            [&] {
                const double start = ProcessCpuSeconds();
                ExtractResult run;
                ok = DecodeOnThreads(installer, integrity, threads, run) && run.decodedBytes == corpus.size() && ok;
                taken = run.decodedAhead;
                cpu += ProcessCpuSeconds() - start;
            },
            WallSeconds);
        if (!ok) {
            std::fprintf(stderr, "bench_coder: the all-core run of %zu members did not decode the archive\n",
                         count);
            return false;
        }
        double wall = 0;
        for (const double seconds : result.coreSeconds) wall += seconds;
        std::printf("%-8zu %-9s %11.1f %11.1f %11u %10.2f  %s\n", members.size(), integrity ? "yes" : "none",
                    MiBPerSecond(corpus.size(), SpreadOf(result.baselineSeconds).median),
                    MiBPerSecond(corpus.size(), SpreadOf(result.coreSeconds).median), taken,
                    wall > 0 ? cpu / wall : 0, FormatRatio(SpreadOf(result.ratios)).c_str());
        std::fflush(stdout);
    }
    return true;
}
