// A block from malloc owned by a unique_ptr: what the readers hand over
// when an entry is held whole, and what realloc may grow.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <memory>

struct FreeDeleter {
  void operator()(void* block) const { std::free(block); }
};
using MallocBlock = std::unique_ptr<uint8_t, FreeDeleter>;
