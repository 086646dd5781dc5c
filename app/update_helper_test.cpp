#include "app/update_helper.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>

namespace lum::app {
namespace {

TEST(FileExists, DecisionFromTheAttributeQuery) {
  EXPECT_TRUE(FileExistsFromQuery(0x20, 0));
  EXPECT_TRUE(FileExistsFromQuery(0x01, 0));
  EXPECT_FALSE(FileExistsFromQuery(0x10, 0));
  EXPECT_FALSE(FileExistsFromQuery(0x11, 0));
  EXPECT_FALSE(FileExistsFromQuery(0xFFFFFFFF, 2));
  EXPECT_FALSE(FileExistsFromQuery(0xFFFFFFFF, 3));
  EXPECT_TRUE(FileExistsFromQuery(0xFFFFFFFF, 32));  // held open by the system
  // A folder is never a file, whatever error an earlier call left behind.
  EXPECT_FALSE(FileExistsFromQuery(0x10, 32));
}

TEST(FileExists, RealFilesAndFolders) {
  namespace fs = std::filesystem;
  const fs::path dir = fs::temp_directory_path() / "lum_app_file_exists";
  fs::remove_all(dir);
  fs::create_directories(dir / "folder");
  std::ofstream(dir / "file.txt") << "x";
  EXPECT_TRUE(FileExists((dir / "file.txt").string()));
  EXPECT_FALSE(FileExists((dir / "folder").string()));
  EXPECT_FALSE(FileExists((dir / "missing.txt").string()));
  EXPECT_FALSE(FileExists((dir / "missing" / "file.txt").string()));
  EXPECT_FALSE(FileExists(""));
  fs::remove_all(dir);
}

}  // namespace
}  // namespace lum::app
