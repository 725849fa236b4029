// libFuzzer entry point: the input's first byte chooses the options, the rest is an archive
// stream. It is written as an installer file in a scratch directory and extracted; whatever the
// bytes, the run must end, decode at most one byte per bit of data, and write nothing outside
// the install directory.

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <random>
#include <string>
#include <system_error>
#include <vector>

#include "Extract.h"
#include "Host.h"
#include "SetupHeader.h"
#include "VolumeStream.h"
#include "WorkerState.h"

namespace fs = std::filesystem;

namespace {

// Answers every question with "stop": a prompt means the stream asked for a volume that is not
// there, and the run must then end.
class QuietHost : public Host {
public:
    void Beep() override {}
    bool AskForDisk(int, const char*) override {
        asked = true;
        return false;
    }
    void ShowReadError() override {}
    bool ConfirmQuit() override { return true; }
    void RequestCancel() override { cancelled = true; }
    bool ShouldStop() override { return asked || cancelled; }

    bool asked = false;
    bool cancelled = false;
};

void Check(bool condition, const char* what) {
    if (condition) return;
    std::fprintf(stderr, "ExtractFuzz: %s\n", what);
    std::abort();
}

void RemoveScratch();

// Never destroyed, so that the exit handler can still remove it.
const fs::path& Scratch() {
    static const fs::path* dir = [] {
        // Parallel fuzzing jobs each need their own directory.
        auto* path = new fs::path(fs::temp_directory_path() /
                                  ("extract-fuzz-" + std::to_string(std::random_device()())));
        fs::create_directories(*path);
        std::atexit(RemoveScratch);
        return path;
    }();
    return *dir;
}

void RemoveScratch() {
    std::error_code error;
    fs::remove_all(Scratch(), error);
}

uint64_t BytesBelow(const fs::path& dir) {
    uint64_t total = 0;
    for (const auto& entry : fs::recursive_directory_iterator(dir))
        if (entry.is_regular_file()) total += entry.file_size();
    return total;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    const uint8_t flags = data[0];
    const uint8_t* stream = data + 1;
    const size_t streamSize = size - 1;
    if (streamSize > 1 << 20) return 0;

    const fs::path& dir = Scratch();
    std::error_code error;
    fs::remove_all(dir, error);
    fs::create_directories(dir / "install");

    const fs::path exe = dir / "SETUP.EXE";
    {
        std::vector<uint8_t> file(16, 'S');
        file.push_back(0xFF);
        file.insert(file.end(), stream, stream + streamSize);
        const uint32_t offset = 17;
        for (int i = 0; i < 4; ++i) file.push_back(static_cast<uint8_t>(offset >> (8 * i)));
        std::FILE* out = std::fopen(exe.string().c_str(), "wb");
        Check(out != nullptr, "cannot write the installer file");
        Check(std::fwrite(file.data(), 1, file.size(), out) == file.size(), "short write");
        std::fclose(out);
    }

    QuietHost host;
    auto input = std::make_unique<VolumeStream>(host);
    Check(input->OpenVolumeSet((dir / "GLOB").string().c_str(), exe.string().c_str()),
          "the installer file did not open");
    Check(input->PositionAtArchive(), "a valid trailer was refused");

    auto state = std::make_unique<WorkerState>();
    unsigned char header[SetupHeaderSize];
    input->ReadBytes(header, SetupHeaderSize);
    ParseSetupHeader(header, &state->header);
    const std::string installDir =
        (dir / "install").string() + static_cast<char>(fs::path::preferred_separator);
    std::snprintf(state->installDir, sizeof state->installDir, "%s", installDir.c_str());

    ExtractOptions options;
    options.overwrite = (flags & 1) != 0;
    options.writeFiles = (flags & 2) == 0;
    ExtractResult result;
    ExtractAll(*input, *state, host, result, options);
    input.reset();

    Check(state->statusText.First() == '*', "the end of the run was not published");
    Check(result.decodedBytes <= 8 * static_cast<uint64_t>(streamSize),
          "more bytes decoded than there were bits of data");
    Check(BytesBelow(dir / "install") <= result.decodedBytes, "more written than decoded");
    for (const auto& entry : fs::directory_iterator(dir)) {
        const std::string name = entry.path().filename().string();
        Check(name == "install" || name == "SETUP.EXE", "something was written outside the install directory");
    }
    if (!options.writeFiles) Check(fs::is_empty(dir / "install"), "a listing wrote files");
    return 0;
}
