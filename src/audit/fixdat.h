// The DAT of what an audit found missing.
#pragma once

#include <cstddef>

#include "audit/matching.h"
#include "dat/dat_file.h"

// Fills `fixdat` (released first) with every set that lacks a required ROM,
// holding only those ROMs with all the fields their DAT gave, in DAT order.
// False when out of memory.
bool build_fixdat(const DatFile* dats, size_t dat_count, const AuditResult& result, DatFile& fixdat);
