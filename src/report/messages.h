// Standard error's messages: every one is "imgchk: ", its text and a newline,
// written in one write under the status line's lock, so that messages never
// interleave mid-line nor share a row with the status line. Names in them
// have their control bytes written as %XX, so that no name can move the
// cursor or forge a line of its own.
#pragma once

#include <cstdint>
#include <string>

#include "cache/cache_problem.h"
#include "walk/walk_failure.h"

// The text of a walk failure's message, without "imgchk: " and newline.
std::string walk_failure_text(const WalkFailure& failure);

// The word for the reason that scripts see ("bad-crc", "missing", ...).
const char* failure_reason_word(FailureReason reason);

void write_walk_failure(const WalkFailure& failure);

// The cache's: "cache FILE not used: REASON" and, with --recheck, a file
// whose bytes changed while its size and modification time did not.
void write_cache_not_used(const char* cache_path, CacheProblem problem);
void write_changed_in_place(const char* name);

// The driver's own messages.
void write_unknown_argument(const char* argument);
void write_output_error();
void write_digest_unavailable();
// The audit's messages. `what` names the kind of file ("DAT", "header
// rules"); a `line` of 0 is left out.
void write_options_conflict(const char* option, const char* other_option);
// "OPTION needs WHAT": another option, or the value it lacks ("a file name").
void write_option_needs(const char* option, const char* needed_option);
void write_unreadable_dat(const char* what, const char* path, uint64_t line, const char* reason);
void write_detector_note(const char* dat_path, const char* rules_name);
void write_unwritable_dat(const char* path);
// "OPTION FILE is the same file as OTHER_OPTION OTHER_FILE": an output that
// would overwrite an input or the other output.
void write_same_file(const char* option, const char* path, const char* other_option, const char* other_path);
void write_out_of_memory();

// For the end of a run that ran out of memory: written at once, without
// allocating or taking the status line's lock.
void write_out_of_memory_now();
