// Deciding the header skip of an image, and the rules built in.
#include "base/header_rules.h"

#include <cstring>

namespace {

struct BuiltinRule {
  const char* signature;
  size_t signature_size;
  uint64_t signature_offset;
  uint64_t header_size;
};

constexpr BuiltinRule builtin_rules[] = {
    {"NES\x1A", 4, 0, 0x10},    // iNES
    {"FDS\x1A", 4, 0, 0x10},    // Famicom Disk System
    {"LYNX", 4, 0, 0x40},       // Atari Lynx
    {"ATARI7800", 9, 1, 0x80},  // Atari 7800
};

bool is_power_of_two(uint64_t size) {
  return size != 0 && (size & (size - 1)) == 0;
}

// Whether the test's comparison came out as it wants; false also when it
// would read outside the bytes given.
bool passes(const HeaderTest& test, const uint8_t* first, size_t first_size, uint64_t image_size) {
  if (test.kind == HeaderTestKind::FileSize) {
    bool holds = false;
    if (test.power_of_two) {
      holds = is_power_of_two(image_size);
    } else if (test.comparison == SizeComparison::Equal) {
      holds = image_size == test.file_size;
    } else if (test.comparison == SizeComparison::Less) {
      holds = image_size < test.file_size;
    } else {
      holds = image_size > test.file_size;
    }
    return holds == test.wanted_result;
  }
  if (test.offset > first_size || test.value_size > first_size - test.offset) return false;
  const uint8_t* bytes = first + test.offset;
  bool holds = true;
  for (uint32_t k = 0; k < test.value_size && holds; ++k) {
    switch (test.kind) {
      case HeaderTestKind::Data:
        holds = bytes[k] == test.value[k];
        break;
      case HeaderTestKind::And:
        holds = (bytes[k] & test.mask[k]) == test.value[k];
        break;
      case HeaderTestKind::Or:
        holds = (bytes[k] | test.mask[k]) == test.value[k];
        break;
      case HeaderTestKind::Xor:
        holds = (bytes[k] ^ test.mask[k]) == test.value[k];
        break;
      case HeaderTestKind::FileSize:
        break;
    }
  }
  return holds == test.wanted_result;
}

// A position in the image, or false when it falls outside.
bool resolve(HeaderOffset offset, uint64_t image_size, uint64_t& at) {
  if (offset.distance > image_size) return false;
  at = offset.from_end ? image_size - offset.distance : offset.distance;
  return true;
}

}  // namespace

bool use_builtin_header_rules(HeaderRules& rules) {
  clear_array(rules.rules);
  clear_array(rules.tests);
  for (const BuiltinRule& builtin : builtin_rules) {
    HeaderTest test{};
    test.kind = HeaderTestKind::Data;
    test.wanted_result = true;
    test.offset = builtin.signature_offset;
    test.value_size = static_cast<uint32_t>(builtin.signature_size);
    std::memcpy(test.value, builtin.signature, builtin.signature_size);
    const HeaderRule rule{{builtin.header_size, false}, {0, true}, static_cast<uint32_t>(rules.tests.count), 1};
    if (!push_back(rules.tests, test) || !push_back(rules.rules, rule)) return false;
  }
  return true;
}

HeaderSkip decide_header_skip(const HeaderRules& rules, const uint8_t* first, size_t first_size, uint64_t image_size) {
  if (first_size > image_size) first_size = static_cast<size_t>(image_size);
  for (const HeaderRule& rule : rules.rules) {
    bool all_pass = true;
    for (uint32_t k = 0; k < rule.test_count && all_pass; ++k) {
      all_pass = passes(rules.tests[rule.first_test + k], first, first_size, image_size);
    }
    if (!all_pass) continue;
    HeaderSkip skip{};
    if (!resolve(rule.start, image_size, skip.start) || !resolve(rule.end, image_size, skip.end)) return {};
    if (skip.start >= skip.end || (skip.start == 0 && skip.end == image_size)) return {};
    skip.applies = true;
    return skip;
  }
  return {};
}
