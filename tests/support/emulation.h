// Tests of a cross build run under a user-mode emulator (qemu-arm for armhf,
// qemu-aarch64 for arm64), which differs from a native process in three ways
// the tests must allow for: the emulator runs a thread of its own beside the
// program's, an ARM program (this one included) cannot be exec'd without naming
// the emulator, and /proc/self/exe is the program only as the emulator reports
// it. Everything left out under emulation is listed here with its reason.
#pragma once

#include <string>

namespace ktest {

// True in a test binary built to run under an emulator.
bool UnderEmulation();

// The shell words that start an ARM program here, each quoted and followed
// by a space: empty natively, "'qemu-arm' '-L' 'SYSROOT' " (or
// qemu-aarch64) under emulation.
std::string EmulatorPrefix();

// Runs this program again with the same arguments (through the emulator
// when there is one). Returns only when that fails.
void ExecSelf(char **argv);

// Threads the process had before main ran: 1 natively, more under an
// emulator. A library that starts no thread leaves the count here.
int ThreadsAtStart();

// Left out under emulation, on every architecture, and why:
// - e2e_install (tests/e2e) builds host programs with the native compiler
//   and links them to the installed library.
// The ARM packages are checked by scripts/cross.sh instead.

}  // namespace ktest
