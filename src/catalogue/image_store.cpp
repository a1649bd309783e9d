// Images are packed one after the other into 64 MiB regions; an image too
// large to pack without waste gets a region of its own. Regions are never
// unmapped during a run. The kernel backs them with 2 MiB pages where it
// can, which makes first touch an order of magnitude cheaper.
#include "catalogue/image_store.h"

#include <sys/mman.h>

#include <new>
#include <vector>

namespace {

constexpr uint64_t huge_page_size = 2ull << 20;
constexpr uint64_t packed_region_size = 64ull << 20;
constexpr uint64_t largest_packed_image = packed_region_size / 8;
constexpr uint64_t image_alignment = 64;

struct Region {
  uint8_t* start;
  uint64_t size;
};

struct Store {
  std::vector<Region> regions;
  uint8_t* packing_next = nullptr;  // free space of the current packed region
  uint8_t* packing_end = nullptr;
};

Store g_store;

uint64_t round_up(uint64_t value, uint64_t step) { return (value + step - 1) / step * step; }

// A mapping of at least `size` bytes that starts on a huge-page boundary,
// so that the kernel can back all of it with huge pages.
Region map_region(uint64_t size) {
  const uint64_t mapped_size = round_up(size, huge_page_size);
  const uint64_t reserve = mapped_size + huge_page_size;
  void* mapped = mmap(nullptr, reserve, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (mapped == MAP_FAILED) throw std::bad_alloc();
  auto* const base = static_cast<uint8_t*>(mapped);
  auto* const start = reinterpret_cast<uint8_t*>(round_up(reinterpret_cast<uintptr_t>(base), huge_page_size));
  if (start != base) munmap(base, static_cast<size_t>(start - base));
  const uint64_t tail = reserve - static_cast<uint64_t>(start - base) - mapped_size;
  if (tail != 0) munmap(start + mapped_size, tail);
  madvise(start, mapped_size, MADV_HUGEPAGE);  // only advice: fine if refused
  g_store.regions.push_back(Region{start, mapped_size});
  return Region{start, mapped_size};
}

}  // namespace

uint8_t* allocate_image(uint64_t size) {
  if (size > largest_packed_image) return map_region(size).start;
  const uint64_t packed_size = round_up(size == 0 ? 1 : size, image_alignment);
  if (static_cast<uint64_t>(g_store.packing_end - g_store.packing_next) < packed_size) {
    const Region region = map_region(packed_region_size);
    g_store.packing_next = region.start;
    g_store.packing_end = region.start + region.size;
  }
  uint8_t* const image = g_store.packing_next;
  g_store.packing_next += packed_size;
  return image;
}

void return_image(uint8_t* image, uint64_t size) {
  if (size > largest_packed_image) {
    const Region& last = g_store.regions.back();
    if (last.start != image) return;
    munmap(last.start, last.size);
    g_store.regions.pop_back();
    return;
  }
  const uint64_t packed_size = round_up(size == 0 ? 1 : size, image_alignment);
  if (image + packed_size == g_store.packing_next) g_store.packing_next = image;
}

void release_all_images() {
  for (const Region& region : g_store.regions) munmap(region.start, region.size);
  g_store = Store{};
}
