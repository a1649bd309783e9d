// JSON Lines: the listing's facts without its layout. Besides the listing's
// `D`, which follows the group rule, each image says which earlier image
// holds the very same bytes ("same_as"), whatever the rule decided.
#include "report/json_listing.h"

#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <string>
#include <unordered_map>
#include <vector>

#include "catalogue/ordering.h"
#include "catalogue/rom_entry.h"
#include "catalogue/run_mode.h"
#include "catalogue/sums.h"
#include "report/json_text.h"
#include "report/messages.h"

namespace {

struct KeptFailure {
  std::string name;
  std::string message;
  FailureReason reason;
};

std::vector<KeptFailure> g_kept_failures;

void append_sha256(std::string& out, const uint8_t (&digest)[sha256_size]) {
  append_json_hex_bytes(out, "sha256", digest, sha256_size);
}

void append_mode_sums(std::string& out, RunMode mode, const RomEntry& rom) {
  if (mode == RunMode::M2) append_json_hex(out, "shift16", rom.summary.mode_sums[0], 4);
  if (mode != RunMode::M1) return;
  out += ",\"segments\":[";
  bool first = true;
  for (int column = 0; column < 4; ++column) {
    if (!shows_segment(rom.summary.size, column)) continue;
    if (!first) out += ',';
    first = false;
    char text[8];
    std::snprintf(text, sizeof text, "\"%04x\"", unsigned{rom.summary.mode_sums[column]});
    out += text;
  }
  out += ']';
}

// A group as the listing's: a run of records with the CRC and size of its
// first; it has a collision when not all of them hold the same bytes.
std::vector<bool> groups_with_collision(const Catalogue& catalogue) {
  const std::vector<RomEntry*>& sorted = catalogue.sorted;
  std::vector<bool> collision(static_cast<size_t>(catalogue.count), false);
  int32_t head = 0;
  while (head < catalogue.count) {
    const RomEntry& first = *sorted[head];
    int32_t end = head + 1;
    bool differs = false;
    for (; end < catalogue.count && joins_group(first, *sorted[end]); ++end) {
      differs =
          differs || std::memcmp(sorted[end]->summary.sha256, first.summary.sha256, sizeof first.summary.sha256) != 0;
    }
    for (int32_t slot = head; slot < end; ++slot) collision[static_cast<size_t>(slot)] = differs;
    head = end;
  }
  return collision;
}

// Equal size, CRC-32 and SHA-256: equal bytes.
std::string content_key(const RomEntry& rom) {
  std::string key(reinterpret_cast<const char*>(rom.summary.sha256), sizeof rom.summary.sha256);
  key.append(reinterpret_cast<const char*>(&rom.summary.size), sizeof rom.summary.size);
  key.append(reinterpret_cast<const char*>(&rom.summary.crc), sizeof rom.summary.crc);
  return key;
}

void print_image(RunMode mode, const RomEntry& rom, bool collision, const RomEntry* same_as) {
  std::string line = "{";
  append_json_name(line, "name", display_name(rom.origin).c_str());
  append_json_number(line, "size", rom.summary.size);
  append_json_hex(line, "crc", rom.summary.crc, 8);
  append_json_hex(line, "sum", rom.summary.sum, 4);
  append_sha256(line, rom.summary.sha256);
  append_json_bool(line, "duplicate", rom.status == RomStatus::Duplicate);
  append_json_bool(line, "collision", collision);
  append_mode_sums(line, mode, rom);
  if (same_as != nullptr) {
    line += ',';
    append_json_name(line, "same_as", display_name(same_as->origin).c_str());
  }
  line += '}';
  write_json_line(line);
}

void print_summary(const Catalogue& catalogue, RunMode mode, int32_t unique, int32_t duplicates, int32_t unchecked) {
  std::string line = "{\"type\":\"summary\"";
  append_json_number(line, "roms", static_cast<uint64_t>(catalogue.count));
  append_json_number(line, "unique", static_cast<uint64_t>(unique));
  append_json_number(line, "duplicates", static_cast<uint64_t>(duplicates));
  append_json_number(line, "unchecked", static_cast<uint64_t>(unchecked));
  if (mode != RunMode::All) append_json_number(line, "skipped", static_cast<uint64_t>(catalogue.skipped));
  append_json_number(line, "errors", g_kept_failures.size());
  line += '}';
  write_json_line(line);
}

}  // namespace

void keep_failure_for_json(const WalkFailure& failure) {
  g_kept_failures.push_back(KeptFailure{failure.name, walk_failure_text(failure), failure.reason});
}

void print_json_report(const Catalogue& catalogue, RunMode mode) {
  const std::vector<bool> collision = groups_with_collision(catalogue);
  std::unordered_map<std::string, const RomEntry*> first_with_bytes;
  int32_t unique = 0;
  int32_t duplicates = 0;
  int32_t unchecked = 0;
  for (int32_t slot = 0; slot < catalogue.count; ++slot) {
    const RomEntry& rom = *catalogue.sorted[slot];
    const auto [first, is_new] = first_with_bytes.try_emplace(content_key(rom), &rom);
    print_image(mode, rom, collision[static_cast<size_t>(slot)], is_new ? nullptr : first->second);
    unique += rom.status == RomStatus::Unique ? 1 : 0;
    duplicates += rom.status == RomStatus::Duplicate ? 1 : 0;
    unchecked += rom.status == RomStatus::Unchecked ? 1 : 0;
  }
  print_json_failures();
  print_summary(catalogue, mode, unique, duplicates, unchecked);
}

void print_json_comment(const char* archive_name, const char* comment) {
  std::string line = "{";
  append_json_name(line, "archive", archive_name);
  line += ',';
  append_json_name(line, "comment", comment);
  line += '}';
  write_json_line(line);
}

void print_json_failures() {
  for (const KeptFailure& failure : g_kept_failures) {
    std::string line = "{\"type\":\"error\",";
    append_json_name(line, "name", failure.name.c_str());
    line += ',';
    append_json_name(line, "message", failure.message.c_str());
    line += ",\"reason\":";
    append_json_string(line, failure_reason_word(failure.reason));
    line += '}';
    write_json_line(line);
  }
}
