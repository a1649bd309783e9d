// One file's business with the cache, as the walk and the job ring carry it:
// opaque to both. The cache makes each unit and says how it is let go of.
#pragma once

#include <memory>

struct CacheUnit;

struct CacheUnitRelease {
  void (*release)(CacheUnit* unit) = nullptr;
  void operator()(CacheUnit* unit) const { release(unit); }
};

// Empty when the file's results are not recorded for the cache.
using CacheUnitHandle = std::unique_ptr<CacheUnit, CacheUnitRelease>;
