// What a walk of one archive found, in walk order, when a worker walks it
// (a 7z block can only be unpacked in order): images already summarised,
// failures and -pzc comments. The job ring commits them in the archive's
// place, so the output is the same for any number of threads.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "catalogue/audit_digests.h"
#include "catalogue/image_summary.h"
#include "walk/walk_failure.h"

enum class WalkResultKind : uint8_t { Image, Failure, Comment };

struct WalkResult {
  WalkResultKind kind;
  Provenance origin;                // the image's, the failure's or the archive's
  std::unique_ptr<char[]> comment;  // of a Comment
  ImageSummary summary;             // of an Image
  bool admitted;                    // of an Image: by the run mode's size filter
  WalkFailure failure;              // of a Failure; of `origin`
  AuditDigests audit;               // of an Image, when the run takes audit digests
};

using WalkResults = std::vector<WalkResult>;
