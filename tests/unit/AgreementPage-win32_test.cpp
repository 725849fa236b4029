#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

#include "InstallState.h"
#include "Pages.h"
#include "Win32Probe.h"

namespace {

class AgreementPageTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!StubModule()) GTEST_SKIP() << "no stub at " GLOB_TEST_STUB_FILE;
        installState.instance = StubModule();
        installState.clientRect = {0, 0, 1001, 703};
    }
    void TearDown() override {
        if (page) DestroyWindow(page);
        installState.instance = nullptr;
    }
    HWND page = nullptr;
};

// The box is made by the page at run time, so only its creation shows what it is.
TEST_F(AgreementPageTest, TheTextBoxIsAPlainReadOnlyEditOverThePlaceholder) {
    CreationLog log;
    page = CreateDialogParamA(StubModule(), MAKEINTRESOURCEA(104), nullptr, AgreementPageProc, 0);
    ASSERT_NE(page, nullptr);
    const std::vector<Creation> boxes = log.Of("edit");
    ASSERT_EQ(boxes.size(), 1u);
    const Creation& box = boxes[0];
    EXPECT_EQ(box.className, "edit");
    EXPECT_EQ(box.title, "");
    EXPECT_EQ(box.style, 0x50A00844u) << std::hex << box.style;
    EXPECT_EQ(box.exStyle, 0u);
    EXPECT_EQ(box.menuOrId, 0u) << "control id";
    EXPECT_EQ(box.parent, page);
    EXPECT_EQ(SendMessageA(box.window, WM_GETFONT, 0, 0), 0) << "the box keeps the edit control's own font";

    RECT placeholder, shown;
    GetWindowRect(GetDlgItem(page, 1008), &placeholder);
    GetWindowRect(box.window, &shown);
    EXPECT_TRUE(EqualRect(&placeholder, &shown))
        << "box " << shown.left << "," << shown.top << "," << shown.right << "," << shown.bottom
        << ", control 1008 " << placeholder.left << "," << placeholder.top << "," << placeholder.right
        << "," << placeholder.bottom;
    EXPECT_TRUE(IsWindowVisible(GetDlgItem(page, 1008))) << "the placeholder stays underneath";

    // Exactly the resource's bytes, although they carry no terminator.
    const HRSRC resource = FindResourceA(StubModule(), MAKEINTRESOURCEA(105), "TXT");
    ASSERT_NE(resource, nullptr);
    const char* const bytes = static_cast<const char*>(LockResource(LoadResource(StubModule(), resource)));
    const std::string expected(bytes, SizeofResource(StubModule(), resource));
    std::vector<char> text(expected.size() + 16, '\0');
    GetWindowTextA(box.window, text.data(), static_cast<int>(text.size()));
    EXPECT_EQ(std::string(text.data()), expected);

    char title[64] = {};
    GetWindowTextA(page, title, sizeof title);
    EXPECT_STREQ(title, "License Agreement");
    EXPECT_EQ(installState.activeWindow, page);
    RECT window;
    GetWindowRect(page, &window);
    EXPECT_EQ(window.left, 1001 / 2 - (window.right - window.left) / 2) << "centred across";
    EXPECT_EQ(window.top, 703 / 2 - (window.bottom - window.top) / 2) << "centred down";
}

}  // namespace
