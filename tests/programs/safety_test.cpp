// What stood at an output's name, and runs that fail or are interrupted,
// run as a user would: no run destroys or writes through a file it should
// not, whatever stands at a name, whatever limit or signal ends it, and
// whoever races it.
#ifndef _WIN32
#include <sys/stat.h>
#include <unistd.h>
#ifdef __linux__
#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#endif
#endif

#include <algorithm>
#include <atomic>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <initializer_list>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "tests/support/program_support.h"

namespace {

// Cases every system can set up.
std::vector<safety_case> safety_cases() {
  std::vector<safety_case> cases;
  cases.push_back({"hard link at a plane name",
                   &tesvarex,
                   {"in.bmp", "out.bmp"},
                   planted{[](const scratch_dir& d) {
                     ASSERT_TRUE(write_file(d.file("victim"), victim));
                     std::filesystem::create_hard_link(d.file("victim"), d.file("bmp_yuv_u.bmp"));
                   }},
                   plain_run,
                   exits_with(0),
                   afterwards{[](const scratch_dir& d) {
                     EXPECT_EQ(read_file(d.file("victim")), victim);
                     expect_outputs(tesvarex, d, "out.bmp",
                                    converted(tesvarex, known_colours(tesvarex)));
                   }}});
  cases.push_back(
      {"a plane named like the input is not written",
       &tesvarex,
       {"bmp_yuv_y.bmp", "result.bmp"},
       planted{[](const scratch_dir& d) {
         ASSERT_EQ(std::rename(d.file("in.bmp").c_str(), d.file("bmp_yuv_y.bmp").c_str()), 0);
       }},
       plain_run,
       exits_with(10, "File 'bmp_yuv_y.bmp' cannot create.\n"),
       afterwards{[](const scratch_dir& d) {
         expect_only(d, {"bmp_yuv_v.bmp", "bmp_yuv_u.bmp", "bmp_yuv_y.bmp", "result.bmp"});
         EXPECT_EQ(read_file(d.file("bmp_yuv_y.bmp")), safety_input);
       }}});
  cases.push_back({null_device + " takes the result",
                   &tesvar,
                   {"in.bmp", null_device},
                   nothing_planted,
                   plain_run,
                   exits_with(0),
                   afterwards{[](const scratch_dir& d) { expect_only(d, {"in.bmp"}); }}});
  if (on_windows) {
    cases.push_back(
        {"a file marked read-only is kept",
         &tesvar,
         {"in.bmp", "ro.bmp"},
         planted{[](const scratch_dir& d) {
           ASSERT_TRUE(write_file(d.file("ro.bmp"), victim));
           std::filesystem::permissions(d.file("ro.bmp"), std::filesystem::perms::owner_write,
                                        std::filesystem::perm_options::remove);
         }},
         plain_run,
         exits_with(10, "File 'ro.bmp' cannot create.\n"),
         afterwards{[](const scratch_dir& d) {
           EXPECT_EQ(read_file(d.file("ro.bmp")), victim);
           std::filesystem::permissions(d.file("ro.bmp"), std::filesystem::perms::owner_write,
                                        std::filesystem::perm_options::add);
         }}});
  }
  return cases;
}

#ifndef _WIN32
mode_t mode_of(const std::string& path) {
  struct stat info {};
  EXPECT_EQ(lstat(path.c_str(), &info), 0) << path;
  return info.st_mode;
}

// What passing the file-size limit does: the write fails part way, or the
// limit's signal ends the run.
enum class at_limit { write_fails, run_killed };

run_options size_limited(at_limit what) {
  run_options options;
  options.file_size_limit = 64;
  options.file_size_limit_kills = what == at_limit::run_killed;
  return options;
}

// A user who is neither the test nor the one the programs run as.
constexpr uid_t other_user = 1002;

void plant_as_other_user(const std::string& path, const bytes& content) {
  ASSERT_TRUE(write_file(path, content));
  ASSERT_EQ(chown(path.c_str(), other_user, other_user), 0);
  ASSERT_EQ(chmod(path.c_str(), 0666), 0);
}

void expect_planted(const std::string& path, const bytes& content) {
  EXPECT_EQ(read_file(path), content) << path;
  struct stat info {};
  EXPECT_EQ(lstat(path.c_str(), &info), 0);
  EXPECT_EQ(info.st_uid, other_user) << path;
}

// Files another user planted, and the user's own files, at names in a
// directory the user cannot write and in a sticky one everyone may write.
// Needs root to give files away; the programs run as an ordinary user
// unless said.
void add_other_users_cases(std::vector<safety_case>* cases) {
  const std::vector<std::string> chosen = plus_planes(tesvarex, {"tesvarex.bmp"});
  std::string refusals;
  for (const std::string& name : tesvarex.planes) {
    refusals += "File '" + name + "' cannot create.\n";
  }
  refusals += "File 'tesvarex.bmp' cannot create.\n";
  cases->push_back({"another user's files at the chosen names, directory not writable",
                    &tesvarex,
                    {"in.bmp"},
                    planted{[chosen](const scratch_dir& d) {
                      for (const std::string& name : chosen) {
                        plant_as_other_user(d.file(name), {});
                      }
                      ASSERT_EQ(chmod(d.path().c_str(), 0755), 0);
                    }},
                    as_user(run_as::ordinary_user),
                    exits_with(10, refusals),
                    afterwards{[chosen](const scratch_dir& d) {
                      for (const std::string& name : chosen) {
                        expect_planted(d.file(name), {});
                      }
                    }}});
  cases->push_back({"the user's own files written in place, but not one with a second name",
                    &tesvarex,
                    {"in.bmp", "/dev/null"},
                    planted{[](const scratch_dir& d) {
                      ASSERT_TRUE(write_file(d.file("victim"), victim));
                      ASSERT_EQ(link(d.file("victim").c_str(), d.file("bmp_yuv_u.bmp").c_str()), 0);
                      for (const std::string name : {"victim", "bmp_yuv_v.bmp", "bmp_yuv_y.bmp"}) {
                        ASSERT_TRUE(name == "victim" || write_file(d.file(name), stale_plane));
                        ASSERT_EQ(chown(d.file(name).c_str(), 65534, 65534), 0);
                      }
                      ASSERT_EQ(chmod(d.path().c_str(), 0755), 0);
                    }},
                    as_user(run_as::ordinary_user),
                    exits_with(10, "File 'bmp_yuv_u.bmp' cannot create.\n"),
                    afterwards{[](const scratch_dir& d) {
                      EXPECT_EQ(read_file(d.file("victim")), victim);
                      const picture result = converted(tesvarex, known_colours(tesvarex));
                      for (const std::size_t i : {std::size_t{0}, std::size_t{2}}) {
                        EXPECT_EQ(read_file(d.file(tesvarex.planes[i])),
                                  expected_bitmap32(plane_of(result, plane_bytes[i])));
                      }
                    }}});
  for (const run_as user : {run_as::tests_user, run_as::ordinary_user}) {
    const std::string who = user == run_as::ordinary_user ? ", as an ordinary user" : ", as root";
    // A temporary file made at all would end the run with SIGKILL.
    run_options options = as_user(user);
    options.signal_on_temporary_file = SIGKILL;
    const auto sticky = [](const scratch_dir& d) { ASSERT_EQ(chmod(d.path().c_str(), 01777), 0); };
    cases->push_back({"another user's file in a sticky directory" + who,
                      &tesvar,
                      {"in.bmp", "out.bmp"},
                      planted{[sticky](const scratch_dir& d) {
                        sticky(d);
                        plant_as_other_user(d.file("out.bmp"), victim);
                      }},
                      options,
                      exits_with(10, "File 'out.bmp' cannot create.\n"),
                      afterwards{[](const scratch_dir& d) {
                        expect_only(d, {"in.bmp", "out.bmp"});
                        expect_planted(d.file("out.bmp"), victim);
                      }}});
    // As root, the link is left to the rules' table ("sticky, shared: another
    // user's link, run by root who owns the directory") and to the links
    // flipped in LinksFlippedAtTheNameAreNeverWrittenThrough.
    if (user != run_as::ordinary_user) {
      continue;
    }
    cases->push_back({"another user's link in a sticky directory" + who,
                      &tesvar,
                      {"in.bmp", "out.bmp"},
                      planted{[sticky](const scratch_dir& d) {
                        sticky(d);
                        plant_as_other_user(d.file("target"), victim);
                        ASSERT_EQ(symlink("target", d.file("out.bmp").c_str()), 0);
                        ASSERT_EQ(lchown(d.file("out.bmp").c_str(), other_user, other_user), 0);
                      }},
                      options,
                      exits_with(10, "File 'out.bmp' cannot create.\n"),
                      afterwards{[](const scratch_dir& d) {
                        EXPECT_TRUE(S_ISLNK(mode_of(d.file("out.bmp"))));
                        expect_planted(d.file("out.bmp"), victim);
                      }}});
  }
  // Root's run through another user's link planted as a directory in a
  // directory anyone may write: the link is not followed at any step.
  cases->push_back({"another user's link as a directory on the way, as root",
                    &tesvar,
                    {"in.bmp", "shared/jobdir/conf.bmp"},
                    planted{[](const scratch_dir& d) {
                      ASSERT_EQ(mkdir(d.file("shared").c_str(), 0777), 0);
                      ASSERT_EQ(chmod(d.file("shared").c_str(), 0777), 0);
                      ASSERT_EQ(mkdir(d.file("precious").c_str(), 0700), 0);
                      ASSERT_TRUE(write_file(d.file("precious/conf.bmp"), victim));
                      ASSERT_EQ(symlink("../precious", d.file("shared/jobdir").c_str()), 0);
                      ASSERT_EQ(lchown(d.file("shared/jobdir").c_str(), other_user, other_user), 0);
                    }},
                    plain_run,
                    exits_with(10, "File 'shared/jobdir/conf.bmp' cannot create.\n"),
                    afterwards{[](const scratch_dir& d) {
                      expect_only(d, {"in.bmp", "precious", "shared"});
                      EXPECT_EQ(read_file(d.file("precious/conf.bmp")), victim);
                      const auto entries = std::filesystem::directory_iterator(d.file("precious"));
                      EXPECT_EQ(std::distance(begin(entries), end(entries)), 1);
                    }}});
}

// Cases that need a file-size limit, a signal, a symbolic link, a FIFO,
// permission bits or a device that is always full.
std::vector<safety_case> posix_safety_cases() {
  std::vector<safety_case> cases;
  for (const program* p : all_programs) {
    std::string all_failing;
    for (const std::string& name : p->planes) {
      all_failing += "File '" + name + "' write error.\n";
    }
    cases.push_back({"in place under a file-size limit",
                     p,
                     {"in.bmp", "in.bmp"},
                     nothing_planted,
                     size_limited(at_limit::write_fails),
                     exits_with(10, all_failing + "File 'in.bmp' write error.\n"),
                     afterwards{[](const scratch_dir& d) { expect_only(d, {"in.bmp"}); }}});
    cases.push_back({"default name in place, killed by the file-size signal",
                     p,
                     {},
                     planted{[p](const scratch_dir& d) {
                       ASSERT_EQ(rename(d.file("in.bmp").c_str(), d.file(p->default_file).c_str()),
                                 0);
                     }},
                     size_limited(at_limit::run_killed),
                     killed_by(SIGXFSZ),
                     afterwards{[p](const scratch_dir& d) {
                       expect_only(d, {p->default_file});
                       EXPECT_EQ(read_file(d.file(p->default_file)), safety_input);
                     }}});
  }
  cases.push_back(
      {"a failing re-run keeps the earlier result",
       &tesvar,
       {"in.bmp", "out.bmp"},
       planted{[](const scratch_dir& d) { ASSERT_TRUE(write_file(d.file("out.bmp"), victim)); }},
       size_limited(at_limit::write_fails),
       exits_with(10, "File 'out.bmp' write error.\n"),
       afterwards{[](const scratch_dir& d) {
         expect_only(d, {"in.bmp", "out.bmp"});
         EXPECT_EQ(read_file(d.file("out.bmp")), victim);
       }}});
  // One run meets a link at every plane name (once a case per plane).
  cases.push_back({"symbolic links planted at every plane name",
                   &tesvarex,
                   {"in.bmp", "out.bmp"},
                   planted{[](const scratch_dir& d) {
                     ASSERT_TRUE(write_file(d.file("victim"), victim));
                     for (const std::string& plane : tesvarex.planes) {
                       ASSERT_EQ(symlink("victim", d.file(plane).c_str()), 0);
                     }
                   }},
                   plain_run,
                   exits_with(0),
                   afterwards{[](const scratch_dir& d) {
                     EXPECT_EQ(read_file(d.file("victim")), victim);
                     for (const std::string& plane : tesvarex.planes) {
                       EXPECT_TRUE(S_ISREG(mode_of(d.file(plane)))) << plane;
                     }
                     expect_outputs(tesvarex, d, "out.bmp",
                                    converted(tesvarex, known_colours(tesvarex)));
                   }}});
  cases.push_back({"symbolic link to a missing name at the default output",
                   &morvane,
                   {"in.bmp"},
                   planted{[](const scratch_dir& d) {
                     ASSERT_EQ(symlink("created", d.file("morvane.bmp").c_str()), 0);
                   }},
                   plain_run,
                   exits_with(0),
                   afterwards{[](const scratch_dir& d) {
                     expect_only(d, {"in.bmp", "morvane.bmp"});
                     EXPECT_TRUE(S_ISREG(mode_of(d.file("morvane.bmp"))));
                   }}});
  cases.push_back({"FIFO planted at a plane name is replaced, not opened",
                   &tesvarex,
                   {"in.bmp", "out.bmp"},
                   planted{[](const scratch_dir& d) {
                     ASSERT_EQ(mkfifo(d.file("bmp_yuv_u.bmp").c_str(), 0666), 0);
                   }},
                   plain_run,
                   exits_with(0),
                   afterwards{[](const scratch_dir& d) {
                     expect_outputs(tesvarex, d, "out.bmp",
                                    converted(tesvarex, known_colours(tesvarex)));
                   }}});
  cases.push_back({"the user's own file keeps its permission bits",
                   &tesvar,
                   {"in.bmp", "out.bmp"},
                   planted{[](const scratch_dir& d) {
                     ASSERT_TRUE(write_file(d.file("out.bmp"), victim));
                     ASSERT_EQ(chmod(d.file("out.bmp").c_str(), 0640), 0);
                   }},
                   plain_run,
                   exits_with(0),
                   afterwards{[](const scratch_dir& d) {
                     EXPECT_EQ(mode_of(d.file("out.bmp")) & 07777, 0640u);
                   }}});
  const auto plant_own_link = [](const scratch_dir& d) {
    ASSERT_TRUE(std::filesystem::create_directory(d.file("runs")));
    ASSERT_EQ(symlink("runs/42.bmp", d.file("latest.bmp").c_str()), 0);
  };
  cases.push_back({"the user's own link is written through and kept",
                   &tesvar,
                   {"in.bmp", "latest.bmp"},
                   planted{plant_own_link},
                   plain_run,
                   exits_with(0),
                   afterwards{[](const scratch_dir& d) {
                     EXPECT_TRUE(S_ISLNK(mode_of(d.file("latest.bmp"))));
                     EXPECT_EQ(read_file(d.file("runs/42.bmp")), result_of(tesvar));
                   }}});
  cases.push_back({"a failing run through the user's own link keeps its target",
                   &tesvar,
                   {"in.bmp", "latest.bmp"},
                   planted{[plant_own_link](const scratch_dir& d) {
                     plant_own_link(d);
                     ASSERT_TRUE(write_file(d.file("runs/42.bmp"), victim));
                   }},
                   size_limited(at_limit::write_fails),
                   exits_with(10, "File 'latest.bmp' write error.\n"),
                   afterwards{[](const scratch_dir& d) {
                     EXPECT_TRUE(S_ISLNK(mode_of(d.file("latest.bmp"))));
                     EXPECT_EQ(read_file(d.file("runs/42.bmp")), victim);
                     std::vector<std::string> left;
                     for (const auto& entry : std::filesystem::directory_iterator(d.file("runs"))) {
                       left.push_back(entry.path().filename().string());
                     }
                     EXPECT_EQ(left, std::vector<std::string>{"42.bmp"})
                         << "nothing left beside it";
                   }}});
  cases.push_back({"a file its owner made read-only is kept",
                   &tesvar,
                   {"in.bmp", "ro.bmp"},
                   planted{[](const scratch_dir& d) {
                     ASSERT_TRUE(write_file(d.file("ro.bmp"), victim));
                     ASSERT_EQ(chmod(d.file("ro.bmp").c_str(), 0444), 0);
                     // A directory anyone may write: only the file's own bits refuse.
                     ASSERT_EQ(chmod(d.path().c_str(), 0777), 0);
                   }},
                   as_user(run_as::ordinary_user),
                   exits_with(10, "File 'ro.bmp' cannot create.\n"),
                   afterwards{[](const scratch_dir& d) {
                     expect_only(d, {"in.bmp", "ro.bmp"});
                     EXPECT_EQ(read_file(d.file("ro.bmp")), victim);
                   }}});
  if (geteuid() == 0) {
    add_other_users_cases(&cases);
  }
  cases.push_back({"/dev/full still fails",
                   &morvanex,
                   {"in.bmp", "/dev/full"},
                   nothing_planted,
                   plain_run,
                   exits_with(10, "File '/dev/full' write error.\n"),
                   afterwards{[](const scratch_dir& d) {
                     expect_only(d, plus_planes(morvanex, {"in.bmp"}));
                   }}});
  return cases;
}
#endif

TEST(ProgramSafety, NoRunDestroysOrWritesThroughAFile) {
  for (const safety_case& c : safety_cases()) {
    expect_safe(c);
  }
}

TEST(ProgramSafety, NoLinkFifoOrLimitDestroysOrWritesThroughAFile) {
#ifdef _WIN32
  GTEST_SKIP() << "Windows has no file-size limit, no signals, no FIFOs, no permission bits "
                  "and no device that is always full, and its symbolic links need a privilege";
#else
  for (const safety_case& c : posix_safety_cases()) {
    expect_safe(c);
  }
#endif
}

// A file someone else made at a plane name beforehand is replaced by one of
// the user's, with the user's umask, so its maker cannot read the plane.
TEST(ProgramSafety, AnotherUsersFileAtAPlaneNameIsNotKept) {
#ifdef _WIN32
  GTEST_SKIP() << "Windows has neither file owners a test can set nor permission bits";
#else
  if (geteuid() != 0) {
    GTEST_SKIP() << "giving a file to another user needs root";
  }
  const scratch_dir dir;
  put_files(dir, {{"in.bmp", safety_input}, {"bmp_yuv_v.bmp", victim}});
  constexpr uid_t nobody = 65534;
  ASSERT_EQ(chown(dir.file("bmp_yuv_v.bmp").c_str(), nobody, nobody), 0);
  ASSERT_EQ(chmod(dir.file("bmp_yuv_v.bmp").c_str(), 0666), 0);
  run_options options;
  options.umask = 077;
  expect_status(run(tesvarex, dir, {"in.bmp", "out.bmp"}, options), 0, "");
  struct stat info {};
  ASSERT_EQ(stat(dir.file("bmp_yuv_v.bmp").c_str(), &info), 0);
  EXPECT_EQ(info.st_uid, geteuid());
  EXPECT_EQ(info.st_mode & 07777, 0600u);
  EXPECT_EQ(mode_of(dir.file("out.bmp")) & 07777, 0600u);
#endif
}

#ifndef _WIN32
// An output path as long as a plain open accepts (4,090 bytes here) is
// written, though the temporary name beside it makes a longer path.
TEST(ProgramSafety, OutputPathAsLongAsTheSystemAllows) {
  const scratch_dir dir;
  put_files(dir, {{"in.bmp", safety_input}});
  std::string path = dir.path();
  const std::string part(200, 'd');
  while (path.size() + 1 + part.size() + 1 + 10 < 4090) {
    path += "/" + part;
    ASSERT_EQ(mkdir(path.c_str(), 0755), 0);
  }
  path += "/" + std::string(4090 - path.size() - 1 - 4, 'o') + ".bmp";
  ASSERT_EQ(path.size(), 4090u);
  expect_status(run(tesvar, dir, {"in.bmp", path}), 0, "");
  EXPECT_EQ(read_file(path), result_of(tesvar));
}

// Another user flips a name between a link to /dev/null and a link to a
// file of the user's while the user converts to that name, in a directory
// anyone may write and in a sticky one: a link of someone else's is never
// followed, so the user's file never changes.
TEST(ProgramSafety, LinksFlippedAtTheNameAreNeverWrittenThrough) {
  if (geteuid() != 0) {
    GTEST_SKIP() << "giving links to another user needs root";
  }
  for (const mode_t shared_mode : {mode_t{0777}, mode_t{01777}}) {
    SCOPED_TRACE(shared_mode);
    const scratch_dir dir;
    put_files(dir, {{"in.bmp", safety_input}, {"mine.bmp", victim}});
    ASSERT_EQ(chmod(dir.path().c_str(), shared_mode), 0);
    constexpr uid_t other = 65534;
    std::atomic<bool> done{false};
    std::thread flipper([&] {
      for (unsigned i = 0; !done; ++i) {
        const std::string next = dir.file(".flip");
        const char* target = i % 2 == 0 ? "/dev/null" : "mine.bmp";
        if (symlink(target, next.c_str()) == 0 && lchown(next.c_str(), other, other) == 0) {
          rename(next.c_str(), dir.file("out.bmp").c_str());
        }
        unlink(next.c_str());
      }
    });
    for (int run_number = 0; run_number < 100; ++run_number) {
      const program_result r = run(tesvar, dir, {"in.bmp", "out.bmp"});
      EXPECT_TRUE(r.exited);
    }
    done = true;
    flipper.join();
    EXPECT_EQ(read_file(dir.file("mine.bmp")), victim);
  }
}
#endif

// A signal that ends the program, sent as soon as every temporary file
// exists: the input, converted in place, stays whole, and no temporary file
// is left. A plane may have been completed and renamed into place before
// the signal arrived. Skips the test where the signals cannot be sent.
void expect_in_place_runs_end_cleanly(std::initializer_list<int> signals) {
  static const bytes input = build_bitmap(encode_24(large_picture(2000, 1500, 1), false));
  for (const program* p : {&tesvar, &morvanex}) {
    for (const int signal_number : signals) {
      SCOPED_TRACE(std::string(p->name) + ", signal " + std::to_string(signal_number));
      const scratch_dir dir;
      put_files(dir, {{"in.bmp", input}});
      run_options options;
      options.signal_on_temporary_file = signal_number;
      options.temporary_files_before_signal = static_cast<int>(p->planes.size()) + 1;
      if (const std::string why = unsupported_options(options); !why.empty()) {
        GTEST_SKIP() << why;
      }
      const program_result r = run(*p, dir, {"in.bmp", "in.bmp"}, options);
      EXPECT_FALSE(r.exited);
      EXPECT_EQ(r.signal, signal_number);
      EXPECT_EQ(read_file(dir.file("in.bmp")), input);
      for (const std::string& name : dir.entries()) {
        const bool expected = name == "in.bmp" || std::find(p->planes.begin(), p->planes.end(),
                                                            name) != p->planes.end();
        EXPECT_TRUE(expected) << "left behind: " << name;
      }
    }
  }
}

TEST(ProgramSafety, TerminatedInPlaceRunKeepsTheInput) {
  expect_in_place_runs_end_cleanly({SIGTERM,
#ifndef _WIN32
                                    SIGQUIT, SIGUSR1, SIGABRT
#endif
  });
}

#ifndef _WIN32
// Sent with kill, a signal that also reports faults cleans up like the
// others.
TEST(ProgramSafety, FaultSignalSentToAnInPlaceRunKeepsTheInput) {
  expect_in_place_runs_end_cleanly({SIGSEGV});
}
#endif

#ifdef __linux__
// Gives path exactly the flags given of append-only and immutable (chattr's
// a and i); false where the file system or the user cannot.
bool set_file_flags(const std::string& path, int flags) {
  const int handle = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  int now = 0;
  bool done = handle >= 0 && ioctl(handle, FS_IOC_GETFLAGS, &now) == 0;
  now = (now & ~(FS_APPEND_FL | FS_IMMUTABLE_FL)) | flags;
  done = done && ioctl(handle, FS_IOC_SETFLAGS, &now) == 0;
  close(handle);
  return done;
}

// In an append-only directory no temporary file could ever be removed, so
// none is made: a typed name is written as the shell's ">" writes it (new,
// then in place), a chosen one only in place; an immutable file is refused.
TEST(ProgramSafety, DirectoryThatKeepsItsEntriesGetsNoTemporaryFile) {
  const scratch_dir dir;
  put_files(dir, {{"in.bmp", safety_input}, {"fixed.bmp", safety_input}});
  const std::shared_ptr<void> cleared(nullptr, [&dir](void*) {  // however the test ends
    set_file_flags(dir.path(), 0);
    set_file_flags(dir.file("fixed.bmp"), 0);
  });
  if (!set_file_flags(dir.file("fixed.bmp"), FS_IMMUTABLE_FL) ||
      !set_file_flags(dir.path(), FS_APPEND_FL)) {
    GTEST_SKIP() << "the file system or the user cannot set file flags here";
  }
  const std::pair<const program*, std::string> runs[] = {
      {&tesvar, "out.bmp"}, {&tesvar, "out.bmp"}, {&tesvar, "fixed.bmp"}, {&tesvarex, "out.bmp"}};
  const std::string refused[] = {"", "", "fixed.bmp", "bmp_yuv_v.bmp"};
  for (int i = 0; i < 4; ++i) {
    const program_result r = run(*runs[i].first, dir, {"in.bmp", runs[i].second});
    EXPECT_EQ(r.exit_status, refused[i].empty() ? 0 : 10) << i;
    EXPECT_NE(r.err.find(refused[i]), std::string::npos) << i;
    EXPECT_EQ(dir.entries(), (std::vector<std::string>{"fixed.bmp", "in.bmp", "out.bmp"}));
    EXPECT_EQ(read_file(dir.file("out.bmp")), result_of(*runs[i].first));
    EXPECT_EQ(read_file(dir.file("fixed.bmp")), safety_input);
  }
}
#endif

// Two runs on different pictures in one directory at once: every plane file
// afterwards is wholly one run's, as that run alone writes it.
TEST(ProgramSafety, ConcurrentRunsNeverTearAFile) {
  const scratch_dir dir;
  std::vector<bytes> alone[2];  // each run's planes when it runs by itself
  for (int i = 0; i < 2; ++i) {
    const std::string input = "in" + std::to_string(i) + ".bmp";
    const bytes content = build_bitmap(encode_24(large_picture(600, 400, i), false));
    const scratch_dir solo;
    put_files(solo, {{input, content}});
    expect_status(run(tesvarex, solo, {input, "out.bmp"}), 0, "");
    for (const std::string& plane : tesvarex.planes) {
      alone[i].push_back(read_file(solo.file(plane)));
    }
    put_files(dir, {{input, content}});
  }
  for (int round = 0; round < 3; ++round) {
    program_result results[2];
    std::thread other([&] { results[1] = run(tesvarex, dir, {"in1.bmp", "out.bmp"}); });
    results[0] = run(tesvarex, dir, {"in0.bmp", "out.bmp"});
    other.join();
    for (const program_result& r : results) {
      expect_status(r, 0, "");
    }
    expect_only(dir, plus_planes(tesvarex, {"in0.bmp", "in1.bmp", "out.bmp"}));
    for (std::size_t i = 0; i < tesvarex.planes.size(); ++i) {
      const bytes got = read_file(dir.file(tesvarex.planes[i]));
      EXPECT_TRUE(got == alone[0][i] || got == alone[1][i])
          << tesvarex.planes[i] << " is wholly neither run's";
    }
  }
}

}  // namespace
