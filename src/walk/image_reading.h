// Reading one image, a plain file or an archive entry, and summarising it as
// its bytes pass through buffers that are reused from image to image.
#pragma once

#include <cstdint>

#include "catalogue/audit_digests.h"
#include "catalogue/image_summary.h"
#include "zip/zip_failure.h"

struct ZipReader;
struct ZipExtraction;

// Summarises the first `size` bytes of an open file. `digests` is whether
// the run mode admits the image: a refused one is read but not summed. False
// when the file cannot be read or ends early. When the run takes audit
// digests (g_digest_plan), `audit` gets them.
bool summarise_file(int fd, uint64_t size, bool digests, ImageSummary& summary, AuditDigests& audit);

// Summarises an archive entry that passed zip_prepare_extraction, checking
// its length and CRC-32. False when it cannot be unpacked, why in *failure
// when given.
bool summarise_entry(const ZipReader& reader, const ZipExtraction& extraction, bool digests, ImageSummary& summary,
                     AuditDigests& audit, ZipFailure* failure = nullptr);
