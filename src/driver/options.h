// The command line: leading options into g_mode, and the usage line.
#pragma once

// Reads the options that precede the first path into g_mode. Returns the
// index of the first path argument (argc when there is none), or -1 after
// a usage error, which it has already reported.
int read_options(int argc, char** argv);

// Writes the usage line to standard error as one block.
void print_usage();
