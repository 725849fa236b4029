#include "TerminalProgress.h"

#include <unistd.h>

#include <cstdio>

namespace {

constexpr int kLineWidth = 79;  // one column short of 80, so the cursor never wraps
constexpr int kBarWidth = 30;
constexpr auto kRedrawInterval = std::chrono::milliseconds(100);

}  // namespace

std::string FormatProgressLine(uint64_t done, uint64_t total, const std::string& label,
                               int width) {
    if (done > total) done = total;
    const int permille = total == 0 ? 1000 : static_cast<int>(done * 1000.0 / total);
    const int filled = permille * kBarWidth / 1000;
    std::string line = "[" + std::string(filled, '#') + std::string(kBarWidth - filled, ' ') + "] ";
    char percent[16];
    std::snprintf(percent, sizeof percent, "%3d%% ", permille / 10);
    line += percent;
    if (static_cast<int>(line.size()) < width) {
        // Keep the end of the label: for paths the file name matters more than the directories.
        const size_t room = static_cast<size_t>(width) - line.size();
        if (label.size() <= room)
            line += label;
        else if (room > 3) {
            size_t start = label.size() - (room - 3);
            while (start < label.size() && (static_cast<unsigned char>(label[start]) & 0xC0) == 0x80)
                ++start;  // never start inside a UTF-8 sequence
            line += "..." + label.substr(start);
        }
    }
    if (static_cast<int>(line.size()) > width) line.resize(static_cast<size_t>(width));
    return line;
}

TerminalProgress::TerminalProgress(bool wanted) : enabled(wanted && isatty(fileno(stderr)) != 0) {}

TerminalProgress::~TerminalProgress() { Clear(); }

void TerminalProgress::Update(uint64_t done, uint64_t total, const std::string& label) {
    if (!enabled) return;
    const auto now = std::chrono::steady_clock::now();
    const int permille = total == 0 ? 1000 : static_cast<int>(done * 1000.0 / total);
    const bool finishing = permille == 1000 && lastPermille != 1000;
    if (drawn && !finishing && now - lastDraw < kRedrawInterval) return;
    const std::string line = FormatProgressLine(done, total, label, kLineWidth);
    std::fprintf(stderr, "\r%-*s", kLineWidth, line.c_str());
    std::fflush(stderr);
    drawn = true;
    lastPermille = permille;
    lastDraw = now;
}

void TerminalProgress::Clear() {
    if (!enabled || !drawn) return;
    std::fprintf(stderr, "\r%*s\r", kLineWidth, "");
    std::fflush(stderr);
    drawn = false;
}
