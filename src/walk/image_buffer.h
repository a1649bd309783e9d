// Where a walker writes an image before handing it to the catalogue.
#pragma once

#include <cstdint>

// For a size the run mode admits, a block the catalogue will keep, so the
// bytes are written once; for any other size, scratch memory reused from
// image to image, as a refused image is only counted. Given back on
// destruction unless handed in.
struct ImageBuffer {
  uint8_t* bytes = nullptr;
  uint64_t size = 0;
  bool kept = false;

  explicit ImageBuffer(uint64_t image_size);
  ~ImageBuffer();
  ImageBuffer(const ImageBuffer&) = delete;
  ImageBuffer& operator=(const ImageBuffer&) = delete;
};

// Hands the written image, whose CRC-32 is `crc`, to the catalogue under
// `name`. Call once.
void hand_in_image(const char* name, ImageBuffer& buffer, uint32_t crc);
