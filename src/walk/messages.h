// Walking failures on standard error, one write per message.
#pragma once

#include <cstdint>

// Formats the message (which carries its own "imgchk: " and "\n") and has it
// written to standard error in its place in walk order: at once, or after
// the images before it, when worker threads are still reading them.
void report_failure(const char* format, ...) __attribute__((format(printf, 1, 2)));

// The same, written at once; for committing jobs in walk order.
void write_failure(const char* format, ...) __attribute__((format(printf, 1, 2)));

// Writes a formatted message to standard error in a single write.
void write_message(const char* text, uint64_t size);
