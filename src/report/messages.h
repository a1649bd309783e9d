// Standard error's messages: every one is "imgchk: ", its text and a newline,
// written in one write under the status line's lock, so that messages never
// interleave mid-line nor share a row with the status line. Names in them
// have their control bytes written as %XX, so that no name can move the
// cursor or forge a line of its own.
#pragma once

#include <string>

#include "walk/walk_failure.h"

// The text of a walk failure's message, without "imgchk: " and newline.
std::string walk_failure_text(const WalkFailure& failure);

// The word for the reason that scripts see ("bad-crc", "missing", ...).
const char* failure_reason_word(FailureReason reason);

void write_walk_failure(const WalkFailure& failure);

// The driver's own messages.
void write_unknown_argument(const char* argument);
void write_output_error();
void write_digest_unavailable();
// For the end of a run that ran out of memory: written at once, without
// allocating or taking the status line's lock.
void write_out_of_memory_now();
