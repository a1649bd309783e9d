// Memory for the image bytes the catalogue keeps until the process ends.
//
// Images are written once, into memory that stays theirs: the walkers read
// or inflate straight into a block from here, and the record takes it over.
// First touch of fresh memory is the dearest part of holding a collection
// (a page fault for every 4 KiB), so blocks come from large mappings
// advised for huge pages.
#pragma once

#include <cstdint>

// A block of `size` bytes, 64-byte aligned, never null (a failure throws
// std::bad_alloc, like any allocation of the program). Its contents are
// undefined until written.
uint8_t* allocate_image(uint64_t size);

// Gives back the block most recently allocated, which will not be kept (its
// read failed). Other blocks are left as they are.
void return_image(uint8_t* image, uint64_t size);

// Unmaps every block. Only for tests, with clear_catalogue.
void release_all_images();
