// A test-only RAR writer: stored (uncompressed) files in the RAR 4 and RAR 5
// layouts, written from the format's published structure, since no free
// tool here writes RAR. Enough for the reader to meet both layouts.
#pragma once

#include <string>
#include <utility>
#include <vector>

using RarFiles = std::vector<std::pair<std::string, std::string>>;  // name, content

// Marker block, archive header, one file header with its data per file,
// end of archive block.
std::string rar4_stored(const RarFiles& files);

// Signature, main archive header, one file header with its data per file,
// end of archive header.
std::string rar5_stored(const RarFiles& files);
