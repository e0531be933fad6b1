#include "bitmap/write_bitmap32.h"

#ifndef _WIN32
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>
#endif

#include <array>

#include <functional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/support/bitmap_builder.h"
#include "tests/support/temp_dir.h"

namespace {

using bytes = std::vector<std::uint8_t>;

class WriteBitmap32 : public testing::Test {
 protected:
  void SetUp() override { dir_ = make_temp_dir(); }
  void TearDown() override { remove_tree(dir_); }
  std::string dir_;
};

TEST_F(WriteBitmap32, ThreeByTwoImage) {
  bytes pixels(24);
  for (std::size_t i = 0; i < pixels.size(); ++i) pixels[i] = static_cast<std::uint8_t>(100 + i);
  const std::string path = dir_ + "/out.bmp";
  ASSERT_EQ(write_bitmap32(path.c_str(), pixels.data(), 3, 2, output_name_kind::typed), 0);
  // One group of bytes per header field.
  // clang-format off
  const bytes want_header = {
      'B', 'M', 78, 0, 0, 0,  0, 0, 0, 0,  54, 0, 0, 0,   // file header
      40, 0, 0, 0,  3, 0, 0, 0,  2, 0, 0, 0,  1, 0,  32, 0,
      0, 0, 0, 0,  24, 0, 0, 0,  0, 0, 0, 0,  0, 0, 0, 0,  0, 0, 0, 0,  0, 0, 0, 0};
  // clang-format on
  ASSERT_EQ(want_header.size(), 54u);
  bytes want = want_header;
  want.insert(want.end(), pixels.begin(), pixels.end());
  EXPECT_EQ(read_file(path), want);
}

TEST_F(WriteBitmap32, ReplacesALongerFile) {
  const std::string path = dir_ + "/out.bmp";
  ASSERT_TRUE(write_file(path, bytes(1000, 1)));
  const bytes pixel = {1, 2, 3, 4};
  ASSERT_EQ(write_bitmap32(path.c_str(), pixel.data(), 1, 1, output_name_kind::typed), 0);
  EXPECT_EQ(read_file(path).size(), 58u);
}

TEST_F(WriteBitmap32, FailuresAreReported) {
  struct failure_case {
    std::string path;
    std::string want_message;
  };
  const std::string no_dir = dir_ + "/no/such/dir/out.bmp";
  const failure_case cases[] = {
      {no_dir, "File '" + no_dir + "' cannot create.\n"},
      {dir_, "File '" + dir_ + "' cannot create.\n"},
      {"", "File '' cannot create.\n"},
      {dir_ + "/", "File '" + dir_ + "/' cannot create.\n"},
  };
  const bytes pixels(64 * 64 * 4, 5);
  for (const failure_case& c : cases) {
    testing::internal::CaptureStderr();
    const int got = write_bitmap32(c.path.c_str(), pixels.data(), 64, 64, output_name_kind::typed);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), c.want_message);
    EXPECT_EQ(got, -1) << c.path;
  }
}

TEST_F(WriteBitmap32, FullDeviceIsAWriteError) {
#ifdef _WIN32
  GTEST_SKIP() << "Windows has no device that is always full";
#endif
  const bytes pixels(64 * 64 * 4, 5);
  testing::internal::CaptureStderr();
  const int got = write_bitmap32("/dev/full", pixels.data(), 64, 64, output_name_kind::typed);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "File '/dev/full' write error.\n");
  EXPECT_EQ(got, -1);
}

TEST_F(WriteBitmap32, SizesTooLargeForTheHeaderAreLeftZero) {
  std::uint8_t header[54];
  make_bitmap32_header(40000, 30000, header);  // 4.8e9 bytes of pixels
  const bytes h(header, header + 54);
  EXPECT_EQ(u32_at(h, 2), 0u);
  EXPECT_EQ(u32_at(h, 34), 0u);
  EXPECT_EQ(u32_at(h, 18), 40000u);
  EXPECT_EQ(u32_at(h, 22), 30000u);
  make_bitmap32_header(32767, 32767, header);  // just below 2^32 with the header
  EXPECT_EQ(u32_at(bytes(header, header + 54), 2), 32767u * 32767u * 4u + 54u);
}

TEST_F(WriteBitmap32, DimensionsBeyondTheHeaderFieldsAreNotWritten) {
  const std::string path = dir_ + "/out.bmp";
  const bytes pixel(4);
  testing::internal::CaptureStderr();
  EXPECT_EQ(write_bitmap32(path.c_str(), pixel.data(), 1, std::int64_t{1} << 31,
                           output_name_kind::chosen),
            -1);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "File '" + path + "' write error.\n");
  EXPECT_TRUE(read_file(path).empty());
}

#ifndef _WIN32
// What a name holds before and after an output is written there. The new
// file replaces the file the name leads to (the name itself, or where a
// link the user may follow leads); nothing else changes, and no temporary
// file is left beside it.
struct standing_case {
  const char* what;
  output_name_kind kind;
  std::function<void(const std::string& dir)> plant;  // puts something at dir/out.bmp
  const char* written;                                // the name that holds the new file
  unsigned want_permissions;                          // of the new file; 0: the umask's choice
  bool needs_root;                                    // to give a link to another user
};

constexpr uid_t nobody = 65534;

mode_t permissions_of(const std::string& path) {
  struct stat info {};
  EXPECT_EQ(lstat(path.c_str(), &info), 0) << path;
  return info.st_mode & 0777;
}

TEST_F(WriteBitmap32, WhateverStandsAtTheNameIsReplacedNotWrittenThrough) {
  const bytes old_content(100, 7);
  const auto plant_file = [&](const std::string& dir, mode_t mode) {
    ASSERT_TRUE(write_file(dir + "/old.bmp", old_content));
    ASSERT_EQ(chmod((dir + "/old.bmp").c_str(), mode), 0);
  };
  const auto plant_link = [](const char* target, const std::string& dir, uid_t owner) {
    ASSERT_EQ(symlink(target, (dir + "/out.bmp").c_str()), 0);
    if (owner != geteuid()) {
      ASSERT_EQ(lchown((dir + "/out.bmp").c_str(), owner, owner), 0);
    }
  };
  const standing_case cases[] = {
      {"nothing", output_name_kind::typed, [](const std::string&) {}, "out.bmp", 0, false},
      {"own file, mode 640", output_name_kind::typed,
       [&](const std::string& d) {
         plant_file(d, 0640);
         ASSERT_EQ(rename((d + "/old.bmp").c_str(), (d + "/out.bmp").c_str()), 0);
       },
       "out.bmp", 0640, false},
      {"own file, mode 604", output_name_kind::chosen,
       [&](const std::string& d) {
         plant_file(d, 0604);
         ASSERT_EQ(rename((d + "/old.bmp").c_str(), (d + "/out.bmp").c_str()), 0);
       },
       "out.bmp", 0604, false},
      {"own link to a file: written through", output_name_kind::typed,
       [&](const std::string& d) {
         plant_file(d, 0600);
         plant_link("old.bmp", d, geteuid());
       },
       "old.bmp", 0600, false},
      {"own link to a missing name in another directory", output_name_kind::typed,
       [&](const std::string& d) {
         ASSERT_EQ(mkdir((d + "/sub").c_str(), 0755), 0);
         plant_link("sub/new.bmp", d, geteuid());
       },
       "sub/new.bmp", 0, false},
      {"another user's link to a file, in a directory only its owner writes",
       output_name_kind::typed,
       [&](const std::string& d) {
         plant_file(d, 0600);
         plant_link("old.bmp", d, nobody);
       },
       "old.bmp", 0600, true},
      {"own link at a chosen name", output_name_kind::chosen,
       [&](const std::string& d) {
         plant_file(d, 0600);
         plant_link("old.bmp", d, geteuid());
       },
       "out.bmp", 0, false},
      {"symbolic link to a missing name", output_name_kind::chosen,
       [&](const std::string& d) { plant_link("missing.bmp", d, geteuid()); }, "out.bmp", 0, false},
      {"hard link", output_name_kind::chosen,
       [&](const std::string& d) {
         plant_file(d, 0644);
         ASSERT_EQ(link((d + "/old.bmp").c_str(), (d + "/out.bmp").c_str()), 0);
       },
       "out.bmp", 0644, false},
      {"FIFO at a chosen name", output_name_kind::chosen,
       [](const std::string& d) { ASSERT_EQ(mkfifo((d + "/out.bmp").c_str(), 0666), 0); },
       "out.bmp", 0, false},
      {"link to /dev/null at a chosen name", output_name_kind::chosen,
       [&](const std::string& d) { plant_link("/dev/null", d, geteuid()); }, "out.bmp", 0, false},
  };
  const mode_t mask = umask(022);
  const bytes pixel = {9, 8, 7, 6};
  for (const standing_case& c : cases) {
    SCOPED_TRACE(c.what);
    if (c.needs_root && geteuid() != 0) {
      continue;  // only root can give a link to another user
    }
    const std::string dir = make_temp_dir();
    c.plant(dir);
    const std::string path = dir + "/out.bmp";
    const std::string written = dir + "/" + c.written;
    struct stat before {};
    const bool link_before = lstat(path.c_str(), &before) == 0 && S_ISLNK(before.st_mode);
    ASSERT_EQ(write_bitmap32(path.c_str(), pixel.data(), 1, 1, c.kind), 0);
    struct stat info {};
    ASSERT_EQ(lstat(written.c_str(), &info), 0);
    EXPECT_TRUE(S_ISREG(info.st_mode));
    EXPECT_EQ(info.st_nlink, 1u);
    EXPECT_EQ(read_file(written).size(), 58u);
    EXPECT_EQ(permissions_of(written), c.want_permissions != 0 ? c.want_permissions : 0644u);
    if (written != path) {
      EXPECT_TRUE(link_before && lstat(path.c_str(), &info) == 0 && S_ISLNK(info.st_mode))
          << "the link stays a link";
    }
    if (written != dir + "/old.bmp" && access((dir + "/old.bmp").c_str(), F_OK) == 0) {
      EXPECT_EQ(read_file(dir + "/old.bmp"), old_content);
    }
    EXPECT_FALSE(access((dir + "/missing.bmp").c_str(), F_OK) == 0);
    remove_tree(dir);
  }
  umask(mask);
}

// An access list as the kernel stores it: a version, then entries of a
// 16-bit tag, 16-bit permissions and a 32-bit id, sorted by tag.
bytes access_list(std::initializer_list<std::array<std::uint32_t, 3>> entries) {
  bytes out = {2, 0, 0, 0};
  for (const auto& [tag, permissions, id] : entries) {
    for (const std::uint32_t value : {tag | permissions << 16, id}) {
      for (int shift = 0; shift < 32; shift += 8) {
        out.push_back(static_cast<std::uint8_t>(value >> shift));
      }
    }
  }
  return out;
}

constexpr std::uint32_t owner_entry = 0x01, group_entry = 0x04, named_group_entry = 0x08,
                        mask_entry = 0x10, other_entry = 0x20, no_id = 0xFFFFFFFF;

bytes access_list_of(const std::string& path, const char* which) {
  bytes list(4096);
  const ssize_t length = getxattr(path.c_str(), which, list.data(), list.size());
  list.resize(length > 0 ? static_cast<std::size_t>(length) : 0);
  return list;
}

// A replaced file keeps its group and its access list; a new file gets
// what its directory's default list gives a plain creation.
TEST_F(WriteBitmap32, AttributesFollowTheOldFileOrTheDirectory) {
  const std::string path = dir_ + "/out.bmp";
  const bytes pixel = {9, 8, 7, 6};
  ASSERT_TRUE(write_file(path, bytes(100, 7)));
  ASSERT_EQ(chmod(path.c_str(), 0600), 0);
  const bytes list = access_list({{owner_entry, 6, no_id},
                                  {group_entry, 0, no_id},
                                  {named_group_entry, 4, 1002},
                                  {mask_entry, 4, no_id},
                                  {other_entry, 0, no_id}});
  if (setxattr(path.c_str(), "system.posix_acl_access", list.data(), list.size(), 0) != 0) {
    GTEST_SKIP() << "the file system keeps no access lists";
  }
  const gid_t group = geteuid() == 0 ? 1002 : getegid();
  ASSERT_EQ(chown(path.c_str(), static_cast<uid_t>(-1), group), 0);
  ASSERT_EQ(write_bitmap32(path.c_str(), pixel.data(), 1, 1, output_name_kind::typed), 0);
  struct stat info {};
  ASSERT_EQ(stat(path.c_str(), &info), 0);
  EXPECT_EQ(info.st_size, 58);
  EXPECT_EQ(info.st_gid, group);
  EXPECT_EQ(info.st_mode & 0777, 0640u);  // the group bits show the list's mask
  EXPECT_EQ(access_list_of(path, "system.posix_acl_access"), list);

  const std::string shared = dir_ + "/shared";
  ASSERT_EQ(mkdir(shared.c_str(), 0777), 0);
  const bytes default_list =
      access_list({{owner_entry, 6, no_id}, {group_entry, 6, no_id}, {other_entry, 0, no_id}});
  ASSERT_EQ(setxattr(shared.c_str(), "system.posix_acl_default", default_list.data(),
                     default_list.size(), 0),
            0);
  const mode_t mask = umask(022);
  const std::string fresh = shared + "/new.bmp";
  EXPECT_EQ(write_bitmap32(fresh.c_str(), pixel.data(), 1, 1, output_name_kind::typed), 0);
  umask(mask);
  EXPECT_EQ(permissions_of(fresh), 0660u) << "the default list, not the umask";
}
#endif

#ifdef _WIN32
TEST_F(WriteBitmap32, WhateverStandsAtTheNameIsReplacedNotWrittenThrough) {
  GTEST_SKIP() << "Windows has no permission bits, FIFOs or file-creation mask, and its "
                  "symbolic links need a privilege";
}
#endif

}  // namespace
