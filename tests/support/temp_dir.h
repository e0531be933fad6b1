#pragma once

#include <string>

// A fresh empty directory under the system's temporary directory.
std::string make_temp_dir();

// Removes path and everything below it.
void remove_tree(const std::string& path);

// A working directory entered by enter_temp_dir: leave_temp_dir goes back
// to the previous one and removes the temporary one.
struct scoped_work_dir {
  std::string previous;
  std::string path;
};
scoped_work_dir enter_temp_dir();
void leave_temp_dir(const scoped_work_dir& dir);
