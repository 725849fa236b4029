#pragma once

// The installer's screen arithmetic, kept free of the platform so that it can be tested anywhere.
// Every division is C++'s signed division, which truncates toward zero; coordinates are pixels.

// Where a window of the given size starts so that it is centred on an area that begins at 0 and
// ends at extent: extent / 2 - size / 2. The window may start left of or above the area.
constexpr int CentredOrigin(int extent, int size) {
    return extent / 2 - size / 2;
}

// The backdrop's gradient: bands of height BandHeight(H) from the top of a client area of height
// H, band k blue BandBlue(k). BandHeight(H) * 255 exceeds H, so at most 255 bands are painted;
// the last may reach past the bottom edge and is clipped there.
constexpr int BandHeight(int clientHeight) {
    return clientHeight / 255 + 1;
}

// The bands k = 0, 1, ... with k * BandHeight(H) < H; none when H is 0 or less.
constexpr int BandCount(int clientHeight) {
    if (clientHeight <= 0) return 0;
    const int height = BandHeight(clientHeight);
    return (clientHeight + height - 1) / height;
}

constexpr int BandTop(int k, int bandHeight) {
    return k * bandHeight;
}

constexpr int BandBottom(int k, int bandHeight) {
    return (k + 1) * bandHeight;
}

// The blue component of band k, 0 <= k < BandCount(H): 255 at the top, one step darker per band.
constexpr int BandBlue(int k) {
    return 255 - k;
}

// programName in white at the title position, over a black shadow ShadowOffset further right and
// down; the shadow is drawn first.
constexpr int TitleX = 20;
constexpr int TitleY = 4;
constexpr int ShadowOffset = 5;
constexpr int TitleCellHeight = 50;

struct Box {
    int left, top, right, bottom;  // right and bottom exclusive
};

// The progress bar inside the sunken frame drawn on the placeholder's rectangle (L, T, R, B, in
// the page's client coordinates): inner is (L + 3, T + 3, R - 2, B - 2), an inset of 3 on the
// left and top but 2 on the right and bottom. [inner.left, split) is filled as done and
// [split, inner.right) as not done.
struct BarGeometry {
    Box inner;
    int doneWidth;  // the inner width times the fraction, chopped toward zero, not rounded
    int split;      // inner.left + doneWidth
};

// A fraction outside 0 to 1 (a header whose totalSize is too small, or zero, gives one, NaN
// included) is held to that range, so that the bar never leaves its frame.
inline BarGeometry ProgressBarGeometry(const Box& placeholder, double fraction) {
    BarGeometry bar;
    bar.inner = {placeholder.left + 3, placeholder.top + 3, placeholder.right - 2,
                 placeholder.bottom - 2};
    if (!(fraction > 0.0)) fraction = 0.0;  // NaN fails every comparison
    if (fraction > 1.0) fraction = 1.0;
    const int innerWidth = bar.inner.right - bar.inner.left;
    bar.doneWidth = innerWidth > 0 ? static_cast<int>(innerWidth * fraction) : 0;
    bar.split = bar.inner.left + bar.doneWidth;
    return bar;
}
