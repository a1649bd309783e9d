// Every ROM gets an object, complete sets included, so that a script sees the
// whole DAT; names follow the listing's JSON rule (UTF-8 as it is, anything
// else replaced and given again in hex). The images of "found" that are not
// UTF-8 are given again, all of them in order, in "found_hex".
#include "report/audit_json.h"

#include <cstring>
#include <string>

#include "audit/disk_matching.h"
#include "report/json_listing.h"
#include "report/json_text.h"

namespace {

struct JsonCounts {
  uint64_t sets = 0;
  uint64_t complete = 0;
  uint64_t partial = 0;
  uint64_t missing = 0;
  uint64_t roms = 0;
  uint64_t have = 0;
  uint64_t unknown = 0;
};

const char* rom_status(const DatRom& rom, const RomMatches& matches) {
  if (!is_required_rom(rom)) return "nodump";
  return matches.count != 0 ? "have" : "missing";
}

void append_found(std::string& line, const AuditImage* images, const RomMatches& matches) {
  line += ",\"found\":[";
  bool all_valid = true;
  for (uint32_t k = 0; k < matches.count; ++k) {
    if (k != 0) line += ',';
    all_valid = append_json_string(line, display_name(*images[matches.first[k].image].origin).c_str()) && all_valid;
  }
  line += ']';
  if (all_valid) return;
  line += ",\"found_hex\":[";
  for (uint32_t k = 0; k < matches.count; ++k) {
    if (k != 0) line += ',';
    const std::string name = display_name(*images[matches.first[k].image].origin);
    append_json_hex_value(line, reinterpret_cast<const uint8_t*>(name.data()), name.size());
  }
  line += ']';
}

void print_rom(const DatFile& dat, const DatSet& set, uint32_t index, const AuditImage* images,
               const AuditResult& result, uint32_t dat_index) {
  const DatRom& rom = dat.roms[index];
  const RomMatches matches = rom_matches(result, dat_index, index);
  std::string line = "{\"type\":\"rom\",";
  append_json_name(line, "dat", dat_text(dat, dat.name));
  line += ',';
  append_json_name(line, "set", dat_text(dat, set.name));
  line += ',';
  append_json_name(line, "rom", dat_text(dat, rom.name));
  append_json_number(line, "size", rom.size);
  if (rom.fields & dat_has_crc) {
    append_json_hex(line, "crc", rom.crc, 8);
  } else {
    line += ",\"crc\":null";
  }
  line += ",\"status\":\"";
  line += rom_status(rom, matches);
  line += '"';
  append_json_bool(line, "in_place", matches.in_place);
  append_found(line, images, matches);
  line += '}';
  write_json_line(line);
}

void print_disk(const DatFile& dat, const DatSet& set, uint32_t index, const AuditImage* images,
                const AuditResult& result, uint32_t dat_index) {
  const DatDisk& disk = dat.disks[index];
  const RomMatches matches = disk_matches_of(result, dat_index, index);
  std::string line = "{\"type\":\"disk\",";
  append_json_name(line, "dat", dat_text(dat, dat.name));
  line += ',';
  append_json_name(line, "set", dat_text(dat, set.name));
  line += ',';
  append_json_name(line, "disk", dat_text(dat, disk.name));
  if (disk.fields & dat_has_sha1) {
    append_json_hex_bytes(line, "sha1", disk.sha1, dat_sha1_size);
  } else {
    line += ",\"sha1\":null";
  }
  line += ",\"status\":\"";
  line += !is_required_disk(disk) ? "nodump" : matches.count != 0 ? "have" : "missing";
  line += '"';
  append_json_bool(line, "in_place", matches.in_place);
  append_found(line, images, matches);
  line += '}';
  write_json_line(line);
}

const char* set_status(SetState state) {
  switch (state) {
    case SetState::Complete:
      return "complete";
    case SetState::Partial:
      return "partial";
    case SetState::Missing:
      return "missing";
  }
  return "complete";
}

void print_set(const DatFile& dat, uint32_t set_index, const AuditImage* images, const AuditResult& result,
               uint32_t dat_index, JsonCounts& counts) {
  ReportedSet reported{};
  if (!judge_reported_set(dat, result, dat_index, set_index, reported)) return;
  const DatSet& set = dat.sets[reported.set];
  for (uint32_t k = 0; k < set.rom_count; ++k) print_rom(dat, set, set.first_rom + k, images, result, dat_index);
  for (uint32_t k = 0; k < set.disk_count; ++k) print_disk(dat, set, set.first_disk + k, images, result, dat_index);
  const SetVerdict& verdict = reported.verdict;
  ++counts.sets;
  counts.roms += verdict.required;
  counts.have += verdict.have;
  counts.complete += verdict.state == SetState::Complete;
  counts.partial += verdict.state == SetState::Partial;
  counts.missing += verdict.state == SetState::Missing;
  std::string line = "{\"type\":\"set\",";
  append_json_name(line, "dat", dat_text(dat, dat.name));
  line += ',';
  append_json_name(line, "set", dat_text(dat, set.name));
  line += ",\"status\":\"";
  line += set_status(verdict.state);
  line += '"';
  append_json_number(line, "have", verdict.have);
  append_json_number(line, "roms", verdict.required);
  line += '}';
  write_json_line(line);
}

void print_unknown(const AuditImage& image) {
  std::string line = "{\"type\":\"unknown\",";
  append_json_name(line, "name", display_name(*image.origin).c_str());
  append_json_number(line, "size", image.whole.size);
  append_json_hex(line, "crc", image.whole.crc, 8);
  if (image.whole.sha1 != nullptr) append_json_hex_bytes(line, "sha1", image.whole.sha1, dat_sha1_size);
  line += '}';
  write_json_line(line);
}

// `dat` is null for the run's total, which alone counts unknown images.
void print_summary(const JsonCounts& counts, const DatFile* dat) {
  std::string line = "{\"type\":\"summary\"";
  if (dat != nullptr) {
    line += ',';
    append_json_name(line, "dat", dat_text(*dat, dat->name));
  }
  append_json_number(line, "sets", counts.sets);
  append_json_number(line, "complete", counts.complete);
  append_json_number(line, "partial", counts.partial);
  append_json_number(line, "missing", counts.missing);
  append_json_number(line, "roms", counts.roms);
  append_json_number(line, "have", counts.have);
  if (dat == nullptr) append_json_number(line, "unknown", counts.unknown);
  line += '}';
  write_json_line(line);
}

void add_counts(JsonCounts& total, const JsonCounts& part) {
  total.sets += part.sets;
  total.complete += part.complete;
  total.partial += part.partial;
  total.missing += part.missing;
  total.roms += part.roms;
  total.have += part.have;
}

}  // namespace

// With several DATs, each one's objects end with its own summary, carrying
// "dat"; the last summary is the run's.
void print_audit_json(const DatFile* dats, size_t dat_count, const AuditImage* images, size_t image_count,
                      const AuditResult& result) {
  JsonCounts counts;
  for (size_t d = 0; d < dat_count; ++d) {
    JsonCounts dat_counts;
    for (uint32_t s = 0; s < dats[d].sets.count; ++s) {
      print_set(dats[d], s, images, result, static_cast<uint32_t>(d), dat_counts);
    }
    if (dat_count > 1) print_summary(dat_counts, &dats[d]);
    add_counts(counts, dat_counts);
  }
  for (size_t i = 0; i < image_count; ++i) {
    if (result.image_known[i]) continue;
    ++counts.unknown;
    print_unknown(images[i]);
  }
  print_json_failures();
  print_summary(counts, nullptr);
}
