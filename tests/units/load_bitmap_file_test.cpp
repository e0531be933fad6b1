#include "bitmap/bitmap_input.h"

#include <cstdlib>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/support/bitmap_builder.h"
#include "tests/support/temp_dir.h"

namespace {

struct load_result {
  int status;
  std::vector<std::uint8_t> block;
  std::int64_t size;
  bool block_is_null;
  std::string message;
};

load_result load(const std::string& path) {
  std::uint8_t marker = 0;
  std::uint8_t* block = &marker;  // the loader must reset it
  std::int64_t size = -7;
  testing::internal::CaptureStderr();
  load_result r{};
  r.status = load_bitmap_file(path.c_str(), &block, &size);
  r.message = testing::internal::GetCapturedStderr();
  r.size = size;
  r.block_is_null = block == nullptr;
  if (block != nullptr) {
    r.block.assign(block, block + size);
    std::free(block);
  }
  return r;
}

class LoadBitmapFile : public testing::Test {
 protected:
  void SetUp() override { dir_ = make_temp_dir(); }
  void TearDown() override { remove_tree(dir_); }
  std::string file_of(std::size_t size) {
    const std::string path = dir_ + "/f" + std::to_string(size) + ".bmp";
    std::vector<std::uint8_t> bytes(size);
    for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<std::uint8_t>(i * 7);
    EXPECT_TRUE(write_file(path, bytes));
    return path;
  }
  std::string dir_;
};

TEST_F(LoadBitmapFile, ReadsEveryByte) {
  for (std::size_t size : {55u, 4096u, 100001u}) {
    const load_result r = load(file_of(size));
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.message, "");
    EXPECT_EQ(r.size, static_cast<std::int64_t>(size));
    EXPECT_EQ(r.block, read_file(dir_ + "/f" + std::to_string(size) + ".bmp"));
  }
}

TEST_F(LoadBitmapFile, FailuresPrintOnceAndHandOutNothing) {
  struct failure_case {
    std::string path;
    int want_status;
    std::string want_message;
  };
  const std::string missing = dir_ + "/missing.bmp";
  const failure_case cases[] = {
      {missing, 11, "'" + missing + "' open error.\n"},
      {file_of(54), 13, "'" + dir_ + "/f54.bmp' file size erro. too small(54 Byte)\n"},
      {file_of(0), 13, "'" + dir_ + "/f0.bmp' file size erro. too small(0 Byte)\n"},
      {file_of(1), 13, "'" + dir_ + "/f1.bmp' file size erro. too small(1 Byte)\n"},
  };
  for (const failure_case& c : cases) {
    const load_result r = load(c.path);
    EXPECT_EQ(r.status, c.want_status) << c.path;
    EXPECT_EQ(r.message, c.want_message);
    EXPECT_TRUE(r.block_is_null);
    EXPECT_EQ(r.size, 0);
  }
}

TEST_F(LoadBitmapFile, ADirectoryIsNoBitmap) {
  const load_result r = load(dir_);
#ifdef _WIN32
  // Windows does not open a directory as a file at all.
  EXPECT_EQ(r.status, 11);
#else
  // A directory reports a size of its own; whichever way the loader fails,
  // it fails with a loading status and hands out nothing.
  EXPECT_TRUE(r.status == 13 || r.status == 15) << r.status;
#endif
  EXPECT_TRUE(r.block_is_null);
}

}  // namespace
