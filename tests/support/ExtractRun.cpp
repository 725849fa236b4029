#include "ExtractRun.h"

#include <algorithm>
#include <cstring>
#include <sstream>

#include "VolumeStream.h"

void RecordingObserver::MemberStarted(const MemberRecord& record, const char* target) {
    SeenMember member;
    member.nameLength = record.nameLength;
    member.name.assign(record.name, std::min<size_t>(record.nameLength, sizeof record.name - 1));
    member.size = record.size;
    member.target = target ? target : "";
    char status[256];
    state.statusText.Load(status);
    member.statusAtStart = status;
    seen.push_back(member);
}

void RecordingObserver::MemberFinished(const MemberRecord& record, uint64_t decodedLength,
                                       MemberFailure failure) {
    if (seen.empty() || seen.back().finished) MemberStarted(record, "");
    seen.back().finished = true;
    seen.back().decodedLength = decodedLength;
    seen.back().failure = failure;
}

ExtractRun::ExtractRun() : media(root / "media"), install(root / "install") {
    MakeDirectories(media);
    MakeDirectories(install);
    const std::string dir = install + PathSeparator;
    std::strncpy(state->installDir, dir.c_str(), sizeof state->installDir - 1);
    options.observer = &observer;
}

void ExtractRun::Write(const TestArchive& archive, const VolumeLayout& layout) {
    files = WriteInstaller(media, archive.Stream(), layout);
}

bool ExtractRun::Run() {
    auto stream = OpenInstaller(host, files);
    if (!stream) return false;
    ReadSetupHeader(*stream, *state);
    header = state->header;
    ExtractAll(*stream, *state, host, result, options);
    return true;
}

std::string ExtractRun::OnDisk(const std::string& memberName) const {
    std::string path = memberName;
    for (char& c : path)
        if (c == '\\') c = PathSeparator;
    return JoinPath(install, path);
}

std::vector<std::string> ExtractRun::Prompts() const {
    std::vector<std::string> prompts;
    for (const auto& call : host.calls)
        if (call.compare(0, 6, "mkdir ") != 0) prompts.push_back(call);
    return prompts;
}

std::string ExtractRun::Status() const {
    char status[256];
    state->statusText.Load(status);
    return status;
}

std::string ExtractRun::Summary() const {
    const std::string dir = state->installDir;
    const auto relative = [&](const std::string& path) {
        if (path.compare(0, dir.size(), dir) == 0) return path.substr(dir.size());
        // The final status: the path with '*' over its first character.
        if (!path.empty() && path[0] == '*' && path.compare(1, dir.size() - 1, dir, 1) == 0)
            return "*" + path.substr(dir.size());
        return path;
    };
    const ExtractResult& r = result;
    std::ostringstream text;
    text << "members " << r.members << " failures " << r.failures << " first "
         << DescribeFailure(r.firstFailure) << " at " << relative(r.firstFailedPath) << " detail "
         << relative(r.failureDetail) << "\ndamage " << r.damaged << " " << DescribeDamage(r.damage)
         << " in " << r.damagedMember << " length " << r.damagedLength << " size " << r.damagedSize
         << "\nstopped " << r.stopped << " readError " << r.readError << " writeFailed "
         << r.writeFailed << " endMark " << r.sawEndMark << " totalSizeDiffers " << r.totalSizeDiffers
         << "\ntotal " << r.total << " sizes " << r.sizes << " decoded " << r.decodedBytes << "\n";
    for (const SeenMember& m : observer.seen)
        text << "member " << m.name << " size " << m.size << " target " << relative(m.target)
             << " status " << relative(m.statusAtStart) << " finished " << m.finished << " decoded "
             << m.decodedLength << " " << DescribeFailure(m.failure) << "\n";
    for (const std::string& prompt : Prompts()) text << "prompt " << prompt << "\n";
    text << "status " << relative(Status()) << "\n";
    return text.str();
}
