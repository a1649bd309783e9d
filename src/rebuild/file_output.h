// Writing bytes at an offset, all of them or an errno, and flushing: the one
// path by which the rebuild writes, so that one seam can make a disk full.
#pragma once

#include <cstddef>
#include <cstdint>

// Writes every byte at `offset`, in as many calls as it takes. False with
// the errno in `error_number` (ENOSPC when the disk is full).
bool write_all_at(int fd, uint64_t offset, const uint8_t* bytes, size_t size, int& error_number);

// fsync; false with the errno.
bool flush_to_disk(int fd, int& error_number);

// Test seam: writes that would reach past `bytes` bytes of a file fail with
// ENOSPC once the part that fits is written, as on a full disk. The default,
// UINT64_MAX, is no limit.
void set_file_size_limit_for_tests(uint64_t bytes);
