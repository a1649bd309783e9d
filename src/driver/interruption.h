// Ctrl-C and kill: the run ends at once, the terminal as it was before the
// status line, and nothing more on standard output.
#pragma once

// Blocks SIGINT and SIGTERM in the calling thread, and so in every thread
// started after it, and starts a thread that waits for them: on either, it
// erases the status line and ends the process with 128 + the signal number,
// without flushing standard output. Call first in main, before any thread.
void watch_for_interruption();
