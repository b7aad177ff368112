// Ctrl-C and SIGTERM as a request to stop: the run finishes the frames it
// has and closes its file properly instead of dying with half a file.
#pragma once

// Installs handlers for SIGINT and SIGTERM that only note the signal.
void CatchInterrupts();

// The signal that asked the run to stop, or 0.
int InterruptSignal();

// The exit code for a run stopped by `signal`: 128 + its number, as shells
// report a process killed by it.
inline int InterruptExitCode(int signal) { return 128 + signal; }
