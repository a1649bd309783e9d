// The audit as JSON Lines, for scripts: one object per ROM and one per set
// after its ROMs, in DAT order; one per unknown image in listing order; the
// walk's failures; then the summary.
#pragma once

#include <cstddef>

#include "audit/audit_image.h"
#include "audit/matching.h"
#include "dat/dat_file.h"

void print_audit_json(const DatFile* dats, size_t dat_count, const AuditImage* images, size_t image_count,
                      const AuditResult& result);
