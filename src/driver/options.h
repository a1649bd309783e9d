// The command line: leading options into g_mode, g_worker_count,
// g_json_output and the cache's settings, the usage line, --help and
// --version.
#pragma once

// The number of workers from -jN; 0 when none was given.
extern int g_worker_count;

// --json: the listing (or -pzc's comments) as JSON Lines.
extern bool g_json_output;

// --cache: whether the run uses a cache, and its file ("" for the default
// place); --recheck: read every file and compare it with its row.
extern bool g_cache_wanted;
extern const char* g_cache_file;
extern bool g_recheck;

// --strict: the listing's exit status, too, says that something could not
// be read.
extern bool g_strict;

// The number of online CPUs, at least 1: the workers when -jN is not given.
int default_worker_count();

enum class OptionsOutcome {
  Walk,        // the paths from *first_path on are to be walked
  ExitOk,      // --help or --version was answered
  UsageError,  // already reported
};

// Reads the options that precede the first path (or end at "--"). On Walk,
// *first_path is the index of the first path argument (argc when none).
OptionsOutcome read_options(int argc, char** argv, int* first_path);

// Writes the usage line to standard error as one block.
void print_usage();
