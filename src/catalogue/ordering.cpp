// Ordering by CRC and name, then one pass over the order that splits it into
// groups of equal CRC and size and marks duplicates and CRC collisions.
//
// A group is a run of records with the CRC and size of its first record, the
// head. A later record is a Duplicate when its bytes equal those of every
// earlier record of the group, and each earlier record whose bytes differ
// from it makes one "CRC collision!" report, in the order of the earlier
// records. Comparing every record with every earlier one would cost k*k/2
// full comparisons for a group of k copies of one image, which a big
// collection of empty files or copied sets easily reaches. So the pass
// keeps the group's distinct contents (its variants) and the runs of
// consecutive records that share a variant: a new record is compared once
// with each variant, and the reports are found by skipping the runs of its
// own variant. The result is the same as comparing with every earlier record.
// Bytes are compared through their SHA-256 digests: equal digests mean
// equal bytes (no two inputs with one SHA-256 have ever been found).
#include "catalogue/ordering.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace {

// Consecutive slots [first_slot, end_slot) of one group holding one variant.
struct VariantRun {
  int32_t first_slot;
  int32_t end_slot;
  size_t variant;
};

struct Group {
  std::vector<int32_t> variant_slots;  // a slot of each distinct content
  std::vector<VariantRun> runs;        // every slot of the group, in order
};

void start_group(Group& group, int32_t head_slot) {
  group.variant_slots.assign(1, head_slot);
  group.runs.assign(1, VariantRun{head_slot, head_slot + 1, 0});
}

// The index of the variant with the record's bytes; a new one if none has.
size_t find_or_add_variant(const std::vector<RomEntry*>& sorted, Group& group, int32_t slot) {
  const RomEntry& record = *sorted[slot];
  for (size_t v = 0; v < group.variant_slots.size(); ++v) {
    const RomEntry& known = *sorted[group.variant_slots[v]];
    if (std::memcmp(record.summary.sha256, known.summary.sha256, sha256_size) == 0) return v;
  }
  group.variant_slots.push_back(slot);
  return group.variant_slots.size() - 1;
}

void report_collisions_with_earlier(const std::vector<RomEntry*>& sorted, const Group& group, size_t variant,
                                    int32_t slot, CollisionReport report) {
  for (const VariantRun& run : group.runs) {
    if (run.variant == variant) continue;
    for (int32_t earlier = run.first_slot; earlier < run.end_slot; ++earlier) {
      report(*sorted[earlier], *sorted[slot]);
    }
  }
}

void add_to_group(const std::vector<RomEntry*>& sorted, Group& group, int32_t slot, CollisionReport report) {
  const size_t variant = find_or_add_variant(sorted, group, slot);
  // Only one run means every earlier record holds a single content.
  const bool same_as_all_earlier = group.runs.size() == 1 && group.runs[0].variant == variant;
  sorted[slot]->status = same_as_all_earlier ? RomStatus::Duplicate : RomStatus::Unique;
  if (!same_as_all_earlier && report != nullptr) report_collisions_with_earlier(sorted, group, variant, slot, report);

  VariantRun& last = group.runs.back();
  if (last.variant == variant) {
    last.end_slot = slot + 1;
    return;
  }
  group.runs.push_back(VariantRun{slot, slot + 1, variant});
}

}  // namespace

bool joins_group(const RomEntry& head, const RomEntry& record) {
  return record.summary.crc == head.summary.crc && record.summary.size == head.summary.size;
}

void build_sorted_index(Catalogue& catalogue) {
  std::vector<RomEntry*>& sorted = catalogue.sorted;
  sorted.clear();
  sorted.reserve(static_cast<size_t>(catalogue.count));
  for (RomEntry* entry = catalogue.newest; entry != nullptr; entry = entry->next) sorted.push_back(entry);
  // The order is total, so any sort gives the same one.
  std::sort(sorted.begin(), sorted.end(),
            [](const RomEntry* left, const RomEntry* right) { return compare_roms(&left, &right) < 0; });
}

int compare_roms(const void* a, const void* b) {
  const RomEntry& left = **static_cast<RomEntry* const*>(a);
  const RomEntry& right = **static_cast<RomEntry* const*>(b);
  if (left.summary.crc != right.summary.crc) return left.summary.crc < right.summary.crc ? -1 : 1;
  const int by_name = compare_display_names(left.origin, right.origin);
  if (by_name != 0) return by_name;
  // qsort promises no order for ties: the earlier admitted comes first.
  return left.order < right.order ? -1 : (left.order > right.order ? 1 : 0);
}

void mark_duplicates(Catalogue& catalogue, CollisionReport report) {
  const std::vector<RomEntry*>& sorted = catalogue.sorted;
  if (catalogue.count == 0) return;
  Group group;
  int32_t head_slot = 0;
  sorted[0]->status = RomStatus::Unique;
  start_group(group, 0);
  for (int32_t slot = 1; slot < catalogue.count; ++slot) {
    if (joins_group(*sorted[head_slot], *sorted[slot])) {
      add_to_group(sorted, group, slot, report);
      continue;
    }
    head_slot = slot;
    sorted[slot]->status = RomStatus::Unique;
    start_group(group, slot);
  }
}
