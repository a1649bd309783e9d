// The audit as text: the sets that lack something, the images no DAT
// knows, and a closing count.
#pragma once

#include <cstddef>

#include "audit/audit_image.h"
#include "audit/matching.h"
#include "dat/dat_file.h"

// Writes the audit to standard output, names escaped as the listing
// escapes them.
void print_audit(const DatFile* dats, size_t dat_count, const AuditImage* images, size_t image_count,
                 const AuditResult& result);
