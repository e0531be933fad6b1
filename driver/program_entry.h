// The entry of every program: each program defines program_main, and the
// system's own entry point (driver/program_entry_posix.cpp: main;
// driver/program_entry_windows.cpp: wmain) calls it with the command line's
// arguments as UTF-8 text and ends the process with its status.
#pragma once

int program_main(int argc, const char* const* argv);
