// Cataloguing the entries of an open zip archive, nested archives included.
#pragma once

struct ZipArchive;

// Walks every entry of an archive the caller opened, then closes it.
// `level` is the archive's nesting depth: 1 for an archive named on the
// command line or found in a directory.
void scan_archive(const char* display_name, ZipArchive& archive, int level = 1);
