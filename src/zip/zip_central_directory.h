// Reading the central directory at open: the entry index, the names block
// and the sorted local header offsets.
#pragma once

#include "zip/zip_end_records.h"
#include "zip/zip_reader.h"

// Reads the central directory with one read of its whole extent (in place
// for a memory archive) and indexes every record found by walking it. False
// when a record's name, extra field or comment runs past the directory, the
// number of records disagrees with the end records' counts, or memory runs
// out; whatever was built is then left for zip_close.
bool read_central_directory(ZipReader& reader, const ZipDirectoryPlace& place);

// Sorts the local header offsets of every entry that stats and whose offset
// holds a local header's signature, for the overlap test of extraction.
// False only when memory runs out.
bool index_local_headers(ZipReader& reader);
