// Removal of one file when an interrupt ends the process, after which the
// process still ends as it would have without this. The interrupts are
// SIGINT, SIGTERM, SIGHUP, SIGPIPE and SIGXFSZ on POSIX systems (raised
// again once the file is gone; one the parent left ignored stays ignored),
// and Ctrl-C, Ctrl-Break, closing the console, logging off and shutting
// down on Windows (the default handling then ends the process). Each system
// has its own implementation (interrupt_cleanup_posix.cpp,
// interrupt_cleanup_windows.cpp), chosen by the build.
#pragma once

// An interrupt that arrives between these two calls waits until the second
// one, so that a file and the record of its name change together. Not
// nested.
void hold_interrupts();
void release_interrupts();

// Called while interrupts are held: from now on an interrupt removes the
// file at path, a buffer that must stay unchanged until disarmed. Installs
// the handlers the first time.
void arm_interrupt_cleanup(const char* path);

// Called while interrupts are held: no file is removed any more.
void disarm_interrupt_cleanup();
