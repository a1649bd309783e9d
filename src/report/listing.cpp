// The listing: a line per record in sorted order, each group under an empty
// line, then the summary with the counts by status.
#include "report/listing.h"

#include <cinttypes>
#include <cstdio>

#include "catalogue/ordering.h"
#include "catalogue/rom_entry.h"
#include "catalogue/run_mode.h"
#include "catalogue/sums.h"
#include "report/name_escaping.h"

namespace {

// A missing fourth segment is padded so that every -m1 block is 20 wide.
constexpr char missing_column[] = "     ";

struct StatusCounts {
  int32_t unique = 0;
  int32_t duplicate = 0;
  int32_t unchecked = 0;
};

void print_record_line(RunMode mode, const RomEntry& rom) {
  if (rom.status == RomStatus::Unique) std::putchar('\n');
  const char mark = rom.status == RomStatus::Duplicate ? 'D' : ' ';
  // The size column shows only the low 32 bits of sizes from 4 GiB up.
  const ImageSummary& summary = rom.summary;
  const auto size_low_bits = static_cast<uint32_t>(summary.size);
  std::printf("%c %08" PRIX32 " %04X %6" PRIX32 " ", mark, summary.crc, unsigned{summary.sum}, size_low_bits);
  print_mode_sums(mode, summary.size, summary.mode_sums);
  print_escaped_name(display_name(rom.origin).c_str(), EscapedBytes::ControlsAndHigh);
  std::putchar('\n');
}

void count_status(StatusCounts& counts, RomStatus status) {
  switch (status) {
    case RomStatus::Unique:
      ++counts.unique;
      return;
    case RomStatus::Duplicate:
      ++counts.duplicate;
      return;
    case RomStatus::Unchecked:
      ++counts.unchecked;
      return;
  }
}

void print_summary(const Catalogue& catalogue, RunMode mode, const StatusCounts& counts) {
  // The words stay plural whatever the counts; scripts read this line.
  std::printf("\n%" PRId32 " ROMs, %" PRId32 " unique, %" PRId32 " duplicates, %" PRId32 " unchecked", catalogue.count,
              counts.unique, counts.duplicate, counts.unchecked);
  if (mode != RunMode::All) std::printf(", %" PRId32 " skipped\n", catalogue.skipped);
  std::putchar('\n');
}

}  // namespace

void print_mode_sums(RunMode mode, uint64_t size, const uint16_t mode_sums[max_segments]) {
  if (mode == RunMode::M2) {
    std::printf("%04X ", unsigned{mode_sums[0]});
    return;
  }
  if (mode != RunMode::M1) return;
  const SegmentLayout* layout = m1_layout_of(size);
  if (layout == nullptr) return;
  for (const Segment& segment : layout->segments) {
    if (segment.size == 0) {
      std::fputs(missing_column, stdout);
      continue;
    }
    std::printf("%04X ", unsigned{mode_sums[&segment - layout->segments]});
  }
}

void print_report(const Catalogue& catalogue, RunMode mode) {
  StatusCounts counts;
  for (int32_t slot = 0; slot < catalogue.count; ++slot) {
    const RomEntry& rom = *catalogue.sorted[slot];
    print_record_line(mode, rom);
    count_status(counts, rom.status);
  }
  print_summary(catalogue, mode, counts);
}

void print_collision(const RomEntry& earlier, const RomEntry& later) {
  // Control bytes escaped, so that a name cannot break the report's lines;
  // high bytes as stored, unlike in the listing.
  std::fputs("CRC collision!\n\t", stdout);
  print_escaped_name(display_name(earlier.origin).c_str(), EscapedBytes::Controls);
  std::fputs("\n\t", stdout);
  print_escaped_name(display_name(later.origin).c_str(), EscapedBytes::Controls);
  std::putchar('\n');
}
