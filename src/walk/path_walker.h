// Turning one command-line path into images: archive, directory or file.
#pragma once

// Walks one path, reporting failures on standard error; never stops the run.
void scan_path(const char* path);
