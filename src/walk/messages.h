// Walking failures on standard error, one write per message.
#pragma once

// Formats the message (which carries its own "imgchk: " and "\n") and writes
// it to standard error in a single write.
void report_failure(const char* format, ...) __attribute__((format(printf, 1, 2)));
