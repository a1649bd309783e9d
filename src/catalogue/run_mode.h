// The run mode chosen on the command line; part of the run's SumPlan.
#pragma once

enum class RunMode : int {
  All = 0,  // catalogue every image
  M1 = 1,   // only 12, 14 and 16 KiB images, with segment sums
  M2 = 2,   // only 2 KiB images, with the shift-register checksum
  Pzc = 3,  // list archive comments, catalogue nothing
};
