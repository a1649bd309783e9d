// Which images and failures lie where a set would keep its ROMs: looked up
// by the last part of a set's name, then checked by the in-place rule.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

#include "audit/audit_image.h"
#include "audit/in_place.h"
#include "base/provenance.h"

struct SetPlaces {
  // Images first (by their listing index), then the failures after them.
  std::vector<ImagePlace> places;
  size_t image_count = 0;
  // By the last part of each archive or folder an image lies in (and that
  // part as a written DAT gives it back): the indexes of `places`.
  std::unordered_map<std::string, std::vector<uint32_t>> by_container;
  // Plain files by their own name's last part, for sets of one ROM.
  std::unordered_map<std::string, std::vector<uint32_t>> loose_by_name;
};

void index_set_places(const AuditImage* images, size_t image_count, const Provenance* failures, size_t failure_count,
                      SetPlaces& places);

// The indexes that may lie in the set `set_name`'s place (a superset; check
// each with name_in_set), appended to `found`.
void candidates_in_set(const SetPlaces& places, const char* set_name, std::vector<uint32_t>& found);

// The same for plain files that may be named `rom_name`.
void loose_candidates(const SetPlaces& places, const char* rom_name, std::vector<uint32_t>& found);
