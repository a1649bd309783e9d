// Turning one command-line path into images: archive, directory or file.
#pragma once

// Walks one path, reporting failures on standard error; never stops the run.
void scan_path(const char* path);

// For tests only: when set, called with each path just before it is opened,
// so that a test can change the file system between reading a directory and
// opening its entries.
extern void (*g_before_opening_path)(const char* path);
