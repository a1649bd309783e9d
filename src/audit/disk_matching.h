// Matching CHDs against the disks of the DATs loaded, by the SHA-1 in the
// CHD's header.
#pragma once

#include <cstddef>
#include <cstdint>

#include "audit/audit_image.h"
#include "audit/matching.h"
#include "dat/dat_file.h"

// Fills result's disk matches and marks the CHDs matched as known. A disk
// is in place as SET/NAME.chd (or SET.zip?NAME.chd), for its set or up its
// parents. False when out of memory.
bool match_disks(const DatFile* dats, size_t dat_count, const AuditImage* images, size_t image_count,
                 AuditResult& result);

// The matches of one disk, in listing order.
RomMatches disk_matches_of(const AuditResult& result, uint32_t dat, uint32_t disk);
