// Removal of the run's temporary files when an interrupt ends the process,
// after which the process still ends as it would have without this. The
// interrupts are, on POSIX systems, every signal whose default action ends
// the process and that others send (raised again once the files are gone;
// one the parent left ignored stays ignored), and on Windows Ctrl-C,
// Ctrl-Break, closing the console, logging off and shutting down (the
// default handling then ends the process). Each system has its own
// implementation (interrupt_cleanup_posix.cpp, interrupt_cleanup_windows.cpp),
// chosen by the build.
#pragma once

// How many temporary files a run may hold at once, each in its own slot.
constexpr int most_temporary_files = 4;

// An interrupt that arrives between these two calls waits until the second
// one, so that a file and the record of its name change together. Not
// nested.
void hold_interrupts();
void release_interrupts();

// Called while interrupts are held: from now on an interrupt removes name
// from directory (as remove_entry takes them), a buffer that must stay
// unchanged until slot is disarmed. Installs the handlers the first time.
void arm_interrupt_cleanup(int slot, int directory, const char* name);

// Called while interrupts are held: slot's file is no longer removed.
void disarm_interrupt_cleanup(int slot);
