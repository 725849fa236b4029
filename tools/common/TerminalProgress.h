#pragma once

#include <chrono>
#include <cstdint>
#include <string>

// A one-line progress bar on stderr, redrawn in place with '\r'. It is shown only when stderr is
// a terminal and the caller has not asked for quiet; otherwise every call does nothing, so callers
// update it unconditionally. Redraws are limited to a few per second.
class TerminalProgress {
public:
    explicit TerminalProgress(bool wanted);
    ~TerminalProgress();
    TerminalProgress(const TerminalProgress&) = delete;
    TerminalProgress& operator=(const TerminalProgress&) = delete;

    // done of total units (bytes, members); label is shown after the bar, cut to fit.
    void Update(uint64_t done, uint64_t total, const std::string& label);

    // Erases the bar so that the next line starts clean. Call before printing anything else to
    // stderr or stdout while the bar is up; Update draws it again.
    void Clear();

    bool Shown() const { return enabled; }

private:
    bool enabled;
    bool drawn = false;
    int lastPermille = -1;
    std::chrono::steady_clock::time_point lastDraw;
};

// The bar as drawn for done of total (exposed for tests): "[#####     ]  50% label", width
// columns at most.
std::string FormatProgressLine(uint64_t done, uint64_t total, const std::string& label, int width);
