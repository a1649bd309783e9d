// What a run sums of every image: made once by the driver after the options
// (and the DATs) are read, then handed to whoever reads or lists images.
#pragma once

#include "catalogue/audit_digests.h"
#include "catalogue/run_mode.h"

struct SumPlan {
  RunMode mode = RunMode::All;  // which sums, and which sizes are admitted
  DigestPlan digests;           // which digests every image costs
  // With the cache: every image is summed whole, whether the run mode
  // admits it or not, so that its row serves a run in another mode; the run
  // mode's own sums are taken, and no other mode's (see ImageSummary).
  bool takes_every_sum = false;
};
