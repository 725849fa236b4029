#include "CoderRuns.h"

#include <algorithm>
#include <cstdio>
#include <memory>

#include "BaselineCoder.h"
#include "Extract.h"
#include "HuffmanEncoder.h"
#include "SetupHeader.h"
#include "VolumeStream.h"
#include "WorkerState.h"

namespace {

// 1 January 2024, 00:00 UTC.
constexpr uint64_t RecordTime = 133485408000000000ull;

}  // namespace

std::vector<MemberInput> SplitIntoMembers(const std::vector<uint8_t>& bytes, size_t memberSize,
                                          const std::string& prefix) {
    std::vector<MemberInput> members;
    for (size_t start = 0; start < bytes.size(); start += memberSize) {
        const size_t size = std::min(memberSize, bytes.size() - start);
        members.push_back({prefix + std::to_string(members.size()) + ".bin", bytes.data() + start,
                           size});
    }
    return members;
}

void EncodeIntoImage(const std::vector<MemberInput>& members, InstallerImage& image) {
    HuffmanEncoder encoder(image);
    for (const MemberInput& member : members) {
        image.AddRecord(member.name.c_str(), static_cast<uint32_t>(member.size), RecordTime,
                        RecordTime, RecordTime);
        encoder.BeginMember();
        encoder.Put(member.data, member.size);
        encoder.EndMember();
    }
    image.AddEndMark();
}

namespace {

// Both encoders share the member interface: code every member in turn, remember any refusal.
template <class Encoder>
bool EncodeMembers(const std::vector<MemberInput>& members, ByteSink& sink) {
    Encoder encoder(sink);
    bool ok = true;
    for (const MemberInput& member : members) {
        encoder.BeginMember();
        encoder.Put(member.data, member.size);
        ok = encoder.EndMember() && ok;
    }
    return ok;
}

}  // namespace

bool EncodeWithCore(const std::vector<MemberInput>& members, ByteSink& sink) {
    return EncodeMembers<HuffmanEncoder>(members, sink);
}

bool EncodeWithBaseline(const std::vector<MemberInput>& members, ByteSink& sink) {
    return EncodeMembers<baseline::Encoder>(members, sink);
}

ArchiveRun DecodeWithCore(const InstallerImage& image, const char* installDir) {
    ArchiveRun run;
    BenchHost host;
    auto stream = std::make_unique<VolumeStream>(host);
    if (!stream->OpenVolumeSet(image.BaseName().c_str(), image.FirstVolumeName().c_str()) ||
        !stream->PositionAtArchive()) {
        run.error = image.FirstVolumeName() + ": cannot open the installer or find its archive";
        return run;
    }
    auto state = std::make_unique<WorkerState>();
    unsigned char header[SetupHeaderSize];
    stream->ReadBytes(header, SetupHeaderSize);
    ParseSetupHeader(header, &state->header);

    ExtractOptions options;
    options.writeFiles = installDir != nullptr;
    if (installDir != nullptr) {
        std::snprintf(state->installDir, sizeof state->installDir, "%s", installDir);
    }
    ExtractResult result;
    ExtractAll(*stream, *state, host, result, options);

    run.members = result.members;
    run.decodedBytes = result.decodedBytes;
    if (!result.Ok()) {
        run.error = image.FirstVolumeName() + ": ";
        if (result.firstFailure != MemberFailure::None) {
            run.error += std::string(result.firstFailedPath) + ": " +
                         DescribeFailure(result.firstFailure);
        } else {
            run.error += result.damaged ? "archive damaged" : "reading stopped";
        }
    }
    return run;
}

ArchiveRun DecodeWithBaseline(const InstallerImage& image, ByteSink& output) {
    ArchiveRun run;
    baseline::ArchiveTotals totals;
    if (!baseline::DecodeArchive(image.BaseName().c_str(), image.FirstVolumeName().c_str(), output,
                                 totals)) {
        run.error = image.FirstVolumeName() +
                    (totals.damaged ? ": archive damaged"
                                    : ": cannot open the installer or find its archive");
    }
    run.members = totals.members;
    run.decodedBytes = totals.decodedBytes;
    return run;
}
