// The command line: every argument read against the option table into the
// run's settings, the usage errors between options, the usage line, --help
// and --version.
#pragma once

#include "driver/run_settings.h"

// The number of online CPUs, at least 1: the workers when -jN is not given.
int default_worker_count();

enum class OptionsOutcome {
  Walk,        // the paths from *first_path on are to be walked
  ExitOk,      // --help or --version was answered
  UsageError,  // already reported
};

// Reads the options that precede the first path (or end at "--") into
// `settings`. On Walk, *first_path is the index of the first path argument
// (argc when none).
OptionsOutcome read_options(int argc, char** argv, RunSettings& settings, int* first_path);

// Writes the usage line to standard error as one block.
void print_usage();
