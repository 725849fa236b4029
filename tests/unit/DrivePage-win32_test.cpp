#include "DrivePage.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <cstring>
#include <string>
#include <vector>

#include "DriveSpace.h"
#include "InstallState.h"
#include "Pages.h"
#include "Win32Probe.h"

namespace {

constexpr int DriveList = 1000;

std::string ItemText(HWND list, int index) {
    char text[256] = {};
    if (SendMessageA(list, LB_GETTEXTLEN, index, 0) < LRESULT{sizeof text})
        SendMessageA(list, LB_GETTEXT, index, reinterpret_cast<LPARAM>(text));
    return text;
}

std::string ControlText(HWND page, int id) {
    char text[256] = {};
    GetDlgItemTextA(page, id, text, sizeof text);
    return text;
}

std::string SizeText(uint64_t size) {
    char text[32];
    FormatSizeText(size, text, sizeof text);
    return text;
}

// A drive as the system reports it, asked here rather than by the page.
struct Drive {
    char letter;
    std::string label;
    uint64_t freeBefore, freeAfter;  // measured around the page's own look: the disk is shared
};

std::vector<Drive> ListableDrives() {
    std::vector<Drive> drives;
    for (char letter = 'A'; letter <= 'Z'; ++letter) {
        const char root[] = {letter, ':', '\\', '\0'};
        const UINT type = GetDriveTypeA(root);
        if (type == DRIVE_NO_ROOT_DIR || type == DRIVE_CDROM) continue;
        char label[12] = {};
        GetVolumeInformationA(root, label, sizeof label, nullptr, nullptr, nullptr, nullptr, 0);
        ULARGE_INTEGER available = {};
        GetDiskFreeSpaceExA(root, &available, nullptr, nullptr);
        drives.push_back({letter, label, available.QuadPart, 0});
    }
    return drives;
}

class DrivePageTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!StubModule()) GTEST_SKIP() << "no stub at " GLOB_TEST_STUB_FILE;
        installState.instance = StubModule();
        installState.clientRect = {0, 0, 1024, 767};
        std::strcpy(installState.header.programName, "Vornhelm Atlas");
        std::strcpy(installState.header.subtitle, "Maps for every desk");
        std::strcpy(installState.header.caption, "Vornhelm Atlas Setup");
        installState.header.totalSize = 1024000;  // 1000 K
        installState.installDir[0] = '\0';
    }
    void TearDown() override {
        if (page) DestroyWindow(page);
        installState.instance = nullptr;
    }
    void Open() {
        page = CreateDialogParamA(StubModule(), MAKEINTRESOURCEA(101), nullptr, DrivePageProc, 0);
        ASSERT_NE(page, nullptr);
        list = GetDlgItem(page, DriveList);
    }
    HWND page = nullptr;
    HWND list = nullptr;
};

TEST_F(DrivePageTest, EntriesAreLetterLabelAndFreeSpaceFromCOnwardAndTheNoteGivesTotalSize) {
    std::vector<Drive> drives = ListableDrives();
    Open();
    for (Drive& drive : drives) {
        const char root[] = {drive.letter, ':', '\\', '\0'};
        ULARGE_INTEGER available = {};
        GetDiskFreeSpaceExA(root, &available, nullptr, nullptr);
        drive.freeAfter = available.QuadPart;
    }

    EXPECT_EQ(ControlText(page, 1001), "Vornhelm Atlas");
    EXPECT_EQ(ControlText(page, 1002), "Maps for every desk");
    EXPECT_EQ(ControlText(page, 1003), "NOTE: Program requires 1000 K of drive space.");
    char title[64] = {};
    GetWindowTextA(page, title, sizeof title);
    EXPECT_STREQ(title, "Vornhelm Atlas Setup");
    EXPECT_EQ(installState.activeWindow, page);

    std::vector<const Drive*> listed;
    for (const Drive& drive : drives)
        if (drive.letter >= 'C') listed.push_back(&drive);
    ASSERT_FALSE(listed.empty()) << "no drive C: to Z: here";
    const int count = static_cast<int>(SendMessageA(list, LB_GETCOUNT, 0, 0));
    ASSERT_EQ(count, static_cast<int>(listed.size()));
    int firstWithRoom = -1;
    for (int i = 0; i < count; ++i) {
        const Drive& drive = *listed[i];
        const std::string head = std::string(1, drive.letter) + ":\t" + drive.label + "\t";
        const std::string item = ItemText(list, i);
        EXPECT_TRUE(item == head + SizeText(drive.freeBefore) || item == head + SizeText(drive.freeAfter))
            << "entry " << i << " is \"" << item << "\", expected \"" << head << SizeText(drive.freeBefore) << "\"";
        if (firstWithRoom < 0 && drive.freeBefore > 1024000 + 204800) firstWithRoom = i;
    }
    EXPECT_EQ(SendMessageA(list, LB_GETCURSEL, 0, 0), firstWithRoom) << "the first drive with room";

    RECT window;
    GetWindowRect(page, &window);
    EXPECT_EQ(window.left, 1024 / 2 - (window.right - window.left) / 2) << "centred across";
    EXPECT_EQ(window.top, 767 / 2 - (window.bottom - window.top) / 2) << "centred down";
}

TEST_F(DrivePageTest, ADoubleClickSelectsButDoesNotConfirm) {
    BoxRecorder boxes;
    Open();
    ASSERT_GT(SendMessageA(list, LB_GETCOUNT, 0, 0), 0);
    SendMessageA(list, LB_SETCURSEL, static_cast<WPARAM>(-1), 0);
    RECT item;
    SendMessageA(list, LB_GETITEMRECT, 0, reinterpret_cast<LPARAM>(&item));
    const LPARAM at = MAKELPARAM(item.left + 4, (item.top + item.bottom) / 2);
    SendMessageA(list, WM_LBUTTONDOWN, MK_LBUTTON, at);
    SendMessageA(list, WM_LBUTTONUP, 0, at);
    SendMessageA(list, WM_LBUTTONDBLCLK, MK_LBUTTON, at);
    SendMessageA(list, WM_LBUTTONUP, 0, at);
    Pump(50);
    EXPECT_EQ(SendMessageA(list, LB_GETCURSEL, 0, 0), 0) << "the click selected the entry";
    EXPECT_TRUE(IsWindowVisible(page)) << "the page ended";
    EXPECT_EQ(installState.installDir[0], '\0') << "a drive was stored";
    EXPECT_TRUE(boxes.Calls().empty());
}

TEST_F(DrivePageTest, OkWithoutADriveShowsString5OwnedByThePage) {
    BoxRecorder boxes;
    Open();
    SendMessageA(list, LB_SETCURSEL, static_cast<WPARAM>(-1), 0);
    SendMessageA(page, WM_COMMAND, IDOK, 0);
    const std::vector<BoxCall> calls = boxes.Calls();
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].owner, page);
    EXPECT_FALSE(calls[0].ownerEnabled) << "the page is disabled while its box is up";
    EXPECT_EQ(calls[0].text, "There is not enough free space on that drive");
    EXPECT_EQ(calls[0].caption, "Vornhelm Atlas Setup");
    EXPECT_EQ(calls[0].type, UINT(MB_OK));
    EXPECT_EQ(boxes.Beeps(), 0);
    EXPECT_TRUE(IsWindowVisible(page)) << "the page stays";
    EXPECT_EQ(installState.installDir[0], '\0');
}

}  // namespace
