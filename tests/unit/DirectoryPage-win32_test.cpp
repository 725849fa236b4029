#include "DirectoryPage.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <cstring>
#include <string>

#include "InstallState.h"
#include "Pages.h"
#include "Win32Probe.h"

namespace {

// A fresh directory under the temporary directory, removed with its files afterwards.
class ProbeDirectory : public ::testing::Test {
protected:
    void SetUp() override {
        char temp[MAX_PATH];
        GetTempPathA(sizeof temp, temp);
        char name[MAX_PATH];
        GetTempFileNameA(temp, "prb", 0, name);
        DeleteFileA(name);
        ASSERT_TRUE(CreateDirectoryA(name, nullptr));
        dir = name;
    }
    void TearDown() override {
        WIN32_FIND_DATAA entry;
        const HANDLE find = FindFirstFileA((dir + "\\*").c_str(), &entry);
        if (find != INVALID_HANDLE_VALUE) {
            do {
                const std::string path = dir + "\\" + entry.cFileName;
                if (!(entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) DeleteFileA(path.c_str());
                else if (entry.cFileName[0] != '.') RemoveDirectoryA(path.c_str());
            } while (FindNextFileA(find, &entry));
            FindClose(find);
        }
        RemoveDirectoryA(dir.c_str());
    }
    int Entries() const {
        int count = 0;
        WIN32_FIND_DATAA entry;
        const HANDLE find = FindFirstFileA((dir + "\\*").c_str(), &entry);
        if (find == INVALID_HANDLE_VALUE) return 0;
        do count += entry.cFileName[0] != '.';
        while (FindNextFileA(find, &entry));
        FindClose(find);
        return count;
    }
    std::string dir;
};

TEST_F(ProbeDirectory, AWritableDirectoryPassesWithOrWithoutTrailingBackslashAndKeepsNoProbe) {
    EXPECT_TRUE(TestWritable(dir.c_str()));
    EXPECT_TRUE(TestWritable((dir + "\\").c_str()));
    EXPECT_EQ(Entries(), 0) << "the probe file was left behind";
}

TEST_F(ProbeDirectory, AnExistingTestFileIsNeitherDestroyedNorInTheWay) {
    const std::string test = dir + "\\TEST";
    const HANDLE file = CreateFileA(test.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    DWORD written;
    WriteFile(file, "keep me", 7, &written, nullptr);
    CloseHandle(file);
    // A directory called TEST1 takes the second name as well.
    ASSERT_TRUE(CreateDirectoryA((dir + "\\TEST1").c_str(), nullptr));

    EXPECT_TRUE(TestWritable(dir.c_str()));
    WIN32_FILE_ATTRIBUTE_DATA data;
    ASSERT_TRUE(GetFileAttributesExA(test.c_str(), GetFileExInfoStandard, &data));
    EXPECT_EQ(data.nFileSizeLow, 7u) << "the user's TEST file was overwritten";
    EXPECT_EQ(Entries(), 2);
}

TEST_F(ProbeDirectory, MissingDirectoriesAndOverlongPathsAreNotWritable) {
    EXPECT_FALSE(TestWritable((dir + "\\missing\\deeper").c_str()));
    // 251 characters: the probe would not fit its 256-byte path.
    std::string longDir = dir + "\\";
    longDir.resize(251, 'a');
    EXPECT_FALSE(TestWritable(longDir.c_str()));
    EXPECT_EQ(Entries(), 0);
}

// A drive letter that names no drive: nothing can be created there.
TEST(DirectoryPage, AnUncreatableDirectoryShowsString6OwnedByThePage) {
    if (!StubModule()) GTEST_SKIP() << "no stub at " GLOB_TEST_STUB_FILE;
    char missing = 0;
    for (char letter = 'Y'; letter > 'C' && !missing; --letter) {
        const char root[] = {letter, ':', '\\', '\0'};
        if (GetDriveTypeA(root) == DRIVE_NO_ROOT_DIR) missing = letter;
    }
    ASSERT_NE(missing, 0);
    installState.instance = StubModule();
    installState.clientRect = {0, 0, 1024, 768};
    std::strcpy(installState.header.caption, "Vornhelm Atlas Setup");
    std::strcpy(installState.header.defaultDir, "C:\\ATLAS");
    installState.installDir[0] = missing;
    BoxRecorder boxes;
    const HWND page = CreateDialogParamA(StubModule(), MAKEINTRESOURCEA(102), nullptr, DirectoryPageProc, 0);
    ASSERT_NE(page, nullptr);
    char shown[256] = {};
    GetDlgItemTextA(page, 1004, shown, sizeof shown);
    EXPECT_EQ(std::string(shown), std::string(1, missing) + ":\\ATLAS") << "the default moved to the chosen drive";

    SendMessageA(page, WM_COMMAND, IDOK, 0);
    const std::vector<BoxCall> calls = boxes.Calls();
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].owner, page);
    EXPECT_FALSE(calls[0].ownerEnabled) << "the page is disabled while its box is up";
    EXPECT_EQ(calls[0].text, "Error, can not create that directory.");
    EXPECT_EQ(calls[0].caption, "Vornhelm Atlas Setup");
    EXPECT_EQ(calls[0].type, UINT(MB_OK));
    EXPECT_TRUE(IsWindowVisible(page)) << "the page stays";
    RECT window;
    GetWindowRect(page, &window);
    EXPECT_EQ(window.left, 1024 / 2 - (window.right - window.left) / 2) << "centred across";
    EXPECT_EQ(window.top, 768 / 2 - (window.bottom - window.top) / 2) << "centred down";
    DestroyWindow(page);
    installState.instance = nullptr;
}

}  // namespace
