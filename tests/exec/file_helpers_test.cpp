#include "exec/file_helpers.h"

#include <gtest/gtest.h>

#include "support/test_support.h"
#include "util/text.h"

using testing_support::TempDir;
using testing_support::WriteFileBytes;

TEST(FileHelpers, IsFileExistNeedsANonEmptyReadableFile) {
  TempDir dir("file_helpers_exist");
  WriteFileBytes(dir / "full.bin", "x");
  WriteFileBytes(dir / "empty.bin", "");
  EXPECT_EQ(IsFileExist((dir / "full.bin").c_str()), 1);
  EXPECT_EQ(IsFileExist((dir / "empty.bin").c_str()), 0);
  EXPECT_EQ(IsFileExist((dir / "missing.bin").c_str()), 0);
  EXPECT_EQ(IsFileExist(dir.path().c_str()), 0);  // a folder is no file
  EXPECT_EQ(CheckFileExists((dir / "empty.bin").c_str()), 0);
  EXPECT_EQ(CheckFileExists((dir / "missing.bin").c_str()), 2);
  EXPECT_EQ(CheckFileExists(ChangeUtf8ToWideStr((dir / "missing.bin").c_str()).c_str()), 13);
}

TEST(FileHelpers, CreateFolderMakesTheParentChain) {
  TempDir dir("file_helpers_create");
  std::string file = dir / "a\\b\\c\\file.txt";
  EXPECT_EQ(CreateFolder(ChangeUtf8ToWideStr(file.c_str()).c_str()), 0);
  EXPECT_TRUE(IsDirectory(ChangeUtf8ToWideStr((dir / "a\\b\\c").c_str())));
  EXPECT_FALSE(testing_support::FileExists(file));
  // Existing folders are fine.
  EXPECT_EQ(CreateFolder(ChangeUtf8ToWideStr(file.c_str()).c_str()), 0);
}

TEST(FileHelpers, CreateFolderRefusesDrivesAndNull) {
  EXPECT_EQ(CreateFolder(nullptr), 13);
  EXPECT_EQ(CreateFolder(L"C:\\"), 183);
  EXPECT_EQ(CreateFolder(L"C:\\file.txt"), 183);
  EXPECT_EQ(CreateFolder(L"C:\\\\file.txt"), 183);
}

TEST(FileHelpers, DeleteFolderTreeRemovesEverything) {
  TempDir dir("file_helpers_delete");
  WriteFileBytes(dir / "x\\y\\z.txt", "data");
  WriteFileBytes(dir / "x\\top.txt", "data");
  EXPECT_EQ(DeleteFolderTree(ChangeUtf8ToWideStr((dir / "x").c_str())), 0);
  EXPECT_FALSE(testing_support::FileExists(dir / "x"));
  EXPECT_EQ(DeleteFolderTree(ChangeUtf8ToWideStr((dir / "x").c_str())), 0);  // absent is fine
}
