#include "DirectoryPage.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <string>

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

}  // namespace
