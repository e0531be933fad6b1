// How many processors the process may run on: those of its affinity (what
// taskset, a container's cpuset or a job object leave it), as nproc counts
// them. Each system has its own implementation (usable_processors_linux.cpp,
// usable_processors_windows.cpp), chosen by the build.
#pragma once

// At least 1.
int usable_processors();
