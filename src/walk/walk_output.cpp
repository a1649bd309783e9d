// The installed output, empty until the driver sets it.
#include "walk/walk_output.h"

WalkOutput g_walk_output{};
WalkCacheHooks g_walk_cache{};
