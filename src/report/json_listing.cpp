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

void write_line(std::string& line) {
  line.push_back('\n');
  std::fwrite(line.data(), 1, line.size(), stdout);
}

void append_hex(std::string& out, const char* key, uint32_t value, int digits) {
  char text[16];
  std::snprintf(text, sizeof text, "%0*" PRIx32, digits, value);
  out += ",\"";
  out += key;
  out += "\":\"";
  out += text;
  out += '"';
}

void append_number(std::string& out, const char* key, uint64_t value) {
  out += ",\"";
  out += key;
  out += "\":";
  out += std::to_string(value);
}

void append_bool(std::string& out, const char* key, bool value) {
  out += ",\"";
  out += key;
  out += value ? "\":true" : "\":false";
}

void append_sha256(std::string& out, const uint8_t (&digest)[sha256_size]) {
  static constexpr char hex_digits[] = "0123456789abcdef";
  out += ",\"sha256\":\"";
  for (const uint8_t byte : digest) {
    out.push_back(hex_digits[byte >> 4]);
    out.push_back(hex_digits[byte & 0xF]);
  }
  out += '"';
}

void append_mode_sums(std::string& out, const RomEntry& rom) {
  if (g_mode == RunMode::M2) append_hex(out, "shift16", rom.summary.mode_sums[0], 4);
  if (g_mode != RunMode::M1) return;
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
std::vector<bool> groups_with_collision() {
  std::vector<bool> collision(static_cast<size_t>(g_rom_count), false);
  int32_t head = 0;
  while (head < g_rom_count) {
    const RomEntry& first = *g_sorted[head];
    int32_t end = head + 1;
    bool differs = false;
    for (; end < g_rom_count && g_sorted[end]->summary.crc == first.summary.crc &&
           g_sorted[end]->summary.size == first.summary.size;
         ++end) {
      differs =
          differs || std::memcmp(g_sorted[end]->summary.sha256, first.summary.sha256, sizeof first.summary.sha256) != 0;
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

void print_image(const RomEntry& rom, bool collision, const RomEntry* same_as) {
  std::string line = "{";
  append_json_name(line, "name", rom.name);
  append_number(line, "size", rom.summary.size);
  append_hex(line, "crc", rom.summary.crc, 8);
  append_hex(line, "sum", rom.summary.sum, 4);
  append_sha256(line, rom.summary.sha256);
  append_bool(line, "duplicate", rom.status == RomStatus::Duplicate);
  append_bool(line, "collision", collision);
  append_mode_sums(line, rom);
  if (same_as != nullptr) {
    line += ',';
    append_json_name(line, "same_as", same_as->name);
  }
  line += '}';
  write_line(line);
}

void print_summary(int32_t unique, int32_t duplicates, int32_t unchecked) {
  std::string line = "{\"type\":\"summary\"";
  append_number(line, "roms", static_cast<uint64_t>(g_rom_count));
  append_number(line, "unique", static_cast<uint64_t>(unique));
  append_number(line, "duplicates", static_cast<uint64_t>(duplicates));
  append_number(line, "unchecked", static_cast<uint64_t>(unchecked));
  if (g_mode != RunMode::All) append_number(line, "skipped", static_cast<uint64_t>(g_skipped));
  append_number(line, "errors", g_kept_failures.size());
  line += '}';
  write_line(line);
}

}  // namespace

void keep_failure_for_json(const WalkFailure& failure) {
  g_kept_failures.push_back(KeptFailure{failure.name, walk_failure_text(failure), failure.reason});
}

void print_json_report() {
  const std::vector<bool> collision = groups_with_collision();
  std::unordered_map<std::string, const RomEntry*> first_with_bytes;
  int32_t unique = 0;
  int32_t duplicates = 0;
  int32_t unchecked = 0;
  for (int32_t slot = 0; slot < g_rom_count; ++slot) {
    const RomEntry& rom = *g_sorted[slot];
    const auto [first, is_new] = first_with_bytes.try_emplace(content_key(rom), &rom);
    print_image(rom, collision[static_cast<size_t>(slot)], is_new ? nullptr : first->second);
    unique += rom.status == RomStatus::Unique ? 1 : 0;
    duplicates += rom.status == RomStatus::Duplicate ? 1 : 0;
    unchecked += rom.status == RomStatus::Unchecked ? 1 : 0;
  }
  print_json_failures();
  print_summary(unique, duplicates, unchecked);
}

void print_json_comment(const char* archive_name, const char* comment) {
  std::string line = "{";
  append_json_name(line, "archive", archive_name);
  line += ',';
  append_json_name(line, "comment", comment);
  line += '}';
  write_line(line);
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
    write_line(line);
  }
}
