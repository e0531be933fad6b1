// File names and plane files, run as a user would: the default name, names
// outside ASCII, the input as the output, and where the planes go.
#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/support/program_support.h"

namespace {

// ---------------------------------------------------------------------------
// File names

TEST(ProgramFileNames, DefaultNameIsInputAndOutput) {
  for (const program* p : all_programs) {
    SCOPED_TRACE(p->name);
    const picture source = known_colours(*p);
    const bytes input = build_bitmap(encode_24(source, rows_bottom_up));
    {
      SCOPED_TRACE("no arguments: converted in place");
      const scratch_dir dir;
      put_files(dir, {{p->default_file, input}});
      expect_status(run(*p, dir, {}), 0, "");
      EXPECT_EQ(dir.entries(), plus_planes(*p, {p->default_file}));
      expect_outputs(*p, dir, p->default_file, converted(*p, source));
    }
    {
      SCOPED_TRACE("input only: written to the default name");
      const scratch_dir dir;
      put_files(dir, {{"in.bmp", input}});
      expect_status(run(*p, dir, {"in.bmp"}), 0, "");
      EXPECT_EQ(dir.entries(), plus_planes(*p, {"in.bmp", p->default_file}));
      EXPECT_EQ(read_file(dir.file("in.bmp")), input);
      expect_outputs(*p, dir, p->default_file, converted(*p, source));
    }
  }
}

TEST(ProgramFileNames, NamesOutsideAsciiAreUsedAsGiven) {
  const std::string input = "\xE7\x94\xBB\xE5\x83\x8F.bmp";                   // picture
  const std::string output = "r\xC3\xA9sultat \xE7\xB5\x90\xE6\x9E\x9C.bmp";  // with a space
  for (const program* p : {&tesvar, &morvanex}) {
    SCOPED_TRACE(p->name);
    const picture source = known_colours(*p);
    const scratch_dir dir;
    put_files(dir, {{input, build_bitmap(encode_24(source, rows_bottom_up))}});
    expect_status(run(*p, dir, {input, output}), 0, "");
    EXPECT_EQ(dir.entries(), plus_planes(*p, {input, output}));
    expect_outputs(*p, dir, output, converted(*p, source));
  }
}

TEST(ProgramFileNames, OutputMayNameTheInput) {
  for (const program* p : all_programs) {
    SCOPED_TRACE(p->name);
    const picture source = known_colours(*p);
    const scratch_dir dir;
    put_files(dir, {{"in.bmp", build_bitmap(encode_24(source, rows_bottom_up))}});
    expect_status(run(*p, dir, {"in.bmp", "in.bmp"}), 0, "");
    EXPECT_EQ(dir.entries(), plus_planes(*p, {"in.bmp"}));
    expect_outputs(*p, dir, "in.bmp", converted(*p, source));
  }
}

// ---------------------------------------------------------------------------
// Plane files

TEST(ProgramPlanes, GoToTheCurrentDirectoryWhereverTheResultGoes) {
  for (const program* p : {&tesvarex, &morvanex}) {
    SCOPED_TRACE(p->name);
    const picture source = known_colours(*p);
    const scratch_dir dir;
    put_files(dir, {{"in.bmp", build_bitmap(encode_24(source, rows_bottom_up))}});
    ASSERT_TRUE(std::filesystem::create_directory(dir.file("sub")));
    expect_status(run(*p, dir, {"in.bmp", "sub/out.bmp"}), 0, "");
    EXPECT_EQ(dir.entries(), plus_planes(*p, {"in.bmp", "sub"}));
    expect_outputs(*p, dir, "sub/out.bmp", converted(*p, source));
    for (const std::string& plane : p->planes) {
      EXPECT_FALSE(std::filesystem::exists(dir.file("sub/" + plane))) << plane;
    }
  }
}

TEST(ProgramPlanes, ResultIsWrittenAfterThePlanes) {
  for (const program* p : {&tesvarex, &morvanex}) {
    for (const std::string& plane : p->planes) {
      SCOPED_TRACE(std::string(p->name) + " writing its result to " + plane);
      const picture source = known_colours(*p);
      const scratch_dir dir;
      const std::vector<file_entry> files =
          with_stale_planes({{"in.bmp", build_bitmap(encode_24(source, rows_bottom_up))}});
      put_files(dir, files);
      expect_status(run(*p, dir, {"in.bmp", plane}), 0, "");
      EXPECT_EQ(dir.entries(), names_of(files));
      expect_outputs(*p, dir, plane, converted(*p, source));
      const program& other = p == &tesvarex ? morvanex : tesvarex;
      for (const std::string& name : other.planes) {
        EXPECT_EQ(read_file(dir.file(name)), stale_plane) << name;
      }
    }
  }
}

}  // namespace
