// The console of a headless host: whether an output is a terminal, its
// width, and Ctrl-C turned into a request the host's main loop polls.
#pragma once

namespace plat {

// True when the descriptor (1 = standard output, 2 = standard error) is a
// terminal, so a live progress line may be redrawn in place.
bool IsTerminal(int fd);
// Columns of the terminal on fd, or 0 when unknown (not a terminal).
int TerminalColumns(int fd);

// Routes SIGINT and SIGTERM to a flag instead of ending the process, so the
// host can ask a run to stop and wait for it. A second signal after the
// first restores the default action, so a stuck host can still be ended.
// Call from the main thread before starting other threads.
void InstallInterruptHandler();
// True once an interrupt arrived since InstallInterruptHandler. Any thread.
bool InterruptRequested();

}  // namespace plat
