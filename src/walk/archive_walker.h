// Cataloguing the entries of an open zip archive, nested archives included.
#pragma once

#include <memory>

struct OpenArchive;

// Walks every entry of an archive the caller opened. The archive is closed
// once the walk and the last job reading its entries are done with it.
// `level` is the archive's nesting depth: 1 for an archive named on the
// command line or found in a directory.
void scan_archive(const char* display_name, const std::shared_ptr<OpenArchive>& archive, int level = 1);
