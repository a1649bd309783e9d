// Image buffers: catalogue blocks for admitted sizes, scratch for the rest.
#include "walk/image_buffer.h"

#include <memory>

#include "catalogue/image_store.h"
#include "catalogue/rom_entry.h"

namespace {

// Scratch for refused images, kept from one image to the next unless a rare
// large one made it bigger than is worth holding on to.
struct Scratch {
  std::unique_ptr<uint8_t[]> bytes;
  uint64_t size = 0;
};
Scratch g_scratch;
constexpr uint64_t largest_kept_scratch = 1ull << 20;

uint8_t* scratch_of_size(uint64_t size) {
  if (g_scratch.size < size) {
    g_scratch.bytes.reset();  // first, so that both never coexist
    g_scratch.bytes.reset(new uint8_t[size]);
    g_scratch.size = size;
  }
  return g_scratch.bytes.get();
}

}  // namespace

ImageBuffer::ImageBuffer(uint64_t image_size) : size(image_size), kept(is_admitted_size(image_size)) {
  bytes = kept ? allocate_image(size) : scratch_of_size(size);
}

ImageBuffer::~ImageBuffer() {
  if (kept && bytes != nullptr) return_image(bytes, size);
  if (!kept && g_scratch.size > largest_kept_scratch) g_scratch = Scratch{};
}

void hand_in_image(const char* name, ImageBuffer& buffer, uint32_t crc) {
  if (!buffer.kept) {
    add_rom(name, buffer.size, buffer.bytes);  // only counts it
    return;
  }
  adopt_rom(name, buffer.size, buffer.bytes, crc);
  buffer.bytes = nullptr;
}
