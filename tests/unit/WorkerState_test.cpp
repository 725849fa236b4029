#include "WorkerState.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>

namespace {

std::string Loaded(const SharedText& text) {
    char buffer[256];
    std::memset(buffer, 0x55, sizeof buffer);
    text.Load(buffer);
    return std::string(buffer, strnlen(buffer, sizeof buffer));
}

TEST(SharedText, StartsEmpty) {
    SharedText text;
    EXPECT_EQ(Loaded(text), "");
    EXPECT_EQ(text.First(), '\0');
}

TEST(SharedText, StoresWholeTextsAndCutsLongOnesTo255) {
    const struct {
        std::string stored;
        std::string loaded;
    } cases[] = {
        {"C:\\APPS\\TOOL\\README.TXT", "C:\\APPS\\TOOL\\README.TXT"},
        {"", ""},
        {std::string(255, 'x'), std::string(255, 'x')},
        {std::string(256, 'y'), std::string(255, 'y')},
        {std::string(1000, 'z'), std::string(255, 'z')},
    };
    SharedText text;
    for (const auto& c : cases) {
        text.Store(c.stored.c_str());
        EXPECT_EQ(Loaded(text), c.loaded) << c.stored.size() << " characters stored";
    }
}

TEST(SharedText, SetFirstReplacesOnlyTheFirstCharacter) {
    SharedText text;
    text.Store("C:\\APPS\\LAST.TXT");
    text.SetFirst('*');
    EXPECT_EQ(text.First(), '*');
    EXPECT_EQ(Loaded(text), "*:\\APPS\\LAST.TXT");

    SharedText empty;
    empty.SetFirst('*');
    EXPECT_EQ(empty.First(), '*');
    EXPECT_EQ(Loaded(empty), "*") << "the text after an empty one stays terminated";
}

TEST(SharedFraction, KeepsTheExactValue) {
    SharedFraction fraction;
    EXPECT_EQ(fraction.Load(), 0.0);
    for (double value : {1.0, 0.1, 1.0 / 3.0, 123456.789}) {
        fraction.Store(value);
        EXPECT_EQ(fraction.Load(), value);
    }
}

TEST(WorkerState, StartsClear) {
    auto state = std::make_unique<WorkerState>();
    EXPECT_EQ(state->cancelRequested.load(), 0);
    EXPECT_EQ(state->installDir[0], '\0');
    EXPECT_EQ(state->statusText.First(), '\0');
    EXPECT_EQ(state->progressFraction.Load(), 0.0);
}

}  // namespace
