// Copier headers: the rules that say whether an image starts with one, and
// which block of the image a DAT then lists. dat/header_rule_file reads
// them from a file.
#pragma once

#include <cstddef>
#include <cstdint>

#include "base/grow_array.h"

enum class HeaderTestKind : uint8_t { Data, And, Or, Xor, FileSize };
enum class SizeComparison : uint8_t { Equal, Less, Greater };

inline constexpr size_t max_header_test_bytes = 64;

struct HeaderTest {
  HeaderTestKind kind;
  bool wanted_result;  // the test passes when its comparison comes out so
  SizeComparison comparison;
  bool power_of_two;  // FileSize: the size is a power of two
  uint32_t value_size;
  uint64_t offset;  // Data, And, Or, Xor
  uint64_t file_size;
  uint8_t value[max_header_test_bytes];
  uint8_t mask[max_header_test_bytes];
};

// An offset counted from the start, or from the end when from_end.
struct HeaderOffset {
  uint64_t distance;
  bool from_end;
};

struct HeaderRule {
  HeaderOffset start;
  HeaderOffset end;  // {0, true} is the end of the image
  uint32_t first_test;
  uint32_t test_count;
};

struct HeaderRules {
  GrowArray<HeaderRule> rules;
  GrowArray<HeaderTest> tests;
};

// The first bytes a rule's tests may look at; a test past them fails.
inline constexpr size_t header_rule_window = size_t{64} << 10;

// The No-Intro rules: iNES, FDS, Atari Lynx and Atari 7800 headers.
// False when out of memory.
bool use_builtin_header_rules(HeaderRules& rules);

// The block of an image that a DAT lists: [start, end).
struct HeaderSkip {
  bool applies;  // a rule passed and its block is not the whole image
  uint64_t start;
  uint64_t end;
};

// Tries the rules in order on an image of `image_size` bytes whose first
// `first_size` bytes (at least min(image_size, header_rule_window) of them
// for a sure answer) are given; the first rule whose tests all pass decides.
HeaderSkip decide_header_skip(const HeaderRules& rules, const uint8_t* first, size_t first_size, uint64_t image_size);
