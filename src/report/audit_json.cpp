// Every ROM gets an object, complete sets included, so that a script sees the
// whole DAT; names follow the listing's JSON rule (UTF-8 as it is, anything
// else replaced and given again in hex). The images of "found" that are not
// UTF-8 are given again, all of them in order, in "found_hex".
#include "report/audit_json.h"

#include <cstring>
#include <string>

#include "audit/disk_matching.h"
#include "audit/rom_verdicts.h"
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
  uint64_t in_place = 0;
  uint64_t elsewhere = 0;
  uint64_t unknown = 0;
};

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
               const AuditResult& result, uint32_t dat_index, const RomJudgement& judged) {
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
  line += rom_verdict_word(judged.verdict);
  line += '"';
  append_json_bool(line, "in_place", judged.verdict == RomVerdict::InPlace);
  append_found(line, images, matches);
  line += '}';
  write_json_line(line);
}

void print_disk(const DatFile& dat, const DatSet& set, uint32_t index, const AuditImage* images,
                const AuditResult& result, uint32_t dat_index, const RomJudgement& judged) {
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
  line += rom_verdict_word(judged.verdict);
  line += '"';
  append_json_bool(line, "in_place", judged.verdict == RomVerdict::InPlace);
  append_found(line, images, matches);
  line += '}';
  write_json_line(line);
}

// The sets and ROMs whose bytes the image holds, wherever they belong.
void append_wanted_by(std::string& line, const AuditResult& result, uint32_t image, const DatFile* dats) {
  line += ",\"wanted_by\":[";
  bool first = true;
  for (const AuditMatch& match : result.matches) {
    if (match.image != image) continue;
    const DatFile& dat = dats[match.dat];
    const DatRom& rom = dat.roms[match.rom];
    line += first ? "[" : ",[";
    first = false;
    append_json_string(line, dat_text(dat, dat.sets[rom.set].name));
    line += ',';
    append_json_string(line, dat_text(dat, rom.name));
    line += ']';
  }
  line += ']';
}

const DatFile* g_dats = nullptr;

void print_unneeded(const DatFile& dat, const DatSet& set, const AuditImage& image, uint32_t place,
                    const AuditResult& result) {
  std::string line = "{\"type\":\"unneeded\",";
  append_json_name(line, "set", dat_text(dat, set.name));
  line += ',';
  append_json_name(line, "name", display_name(*image.origin).c_str());
  append_wanted_by(line, result, place, g_dats);
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
  SetJudgement judged;
  judge_set_by_place(dat, result, dat_index, reported.set, judged);
  for (uint32_t k = 0; k < set.rom_count; ++k) {
    print_rom(dat, set, set.first_rom + k, images, result, dat_index, judged.roms[k]);
  }
  for (uint32_t k = 0; k < set.disk_count; ++k) {
    print_disk(dat, set, set.first_disk + k, images, result, dat_index, judged.disks[k]);
  }
  const SetVerdict& verdict = reported.verdict;
  for (const uint32_t place : judged.unneeded) print_unneeded(dat, set, images[place], place, result);
  ++counts.sets;
  counts.roms += verdict.required;
  counts.have += verdict.found;
  counts.in_place += verdict.have;
  counts.elsewhere += verdict.elsewhere;
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
  append_json_number(line, "have", verdict.found);
  append_json_number(line, "roms", verdict.required);
  append_json_number(line, "in_place", verdict.have);
  append_json_number(line, "elsewhere", verdict.elsewhere);
  line += '}';
  write_json_line(line);
}

void print_unknown(const AuditImage& image) {
  std::string line = "{\"type\":\"unknown\",";
  append_json_name(line, "name", display_name(*image.origin).c_str());
  append_json_number(line, "size", image.whole.size);
  append_json_hex(line, "crc", image.whole.crc, 8);
  if (image.whole.sha1 != nullptr) append_json_hex_bytes(line, "sha1", image.whole.sha1, dat_sha1_size);
  if (image.whole.sha256 != nullptr) append_json_hex_bytes(line, "sha256", image.whole.sha256, dat_sha256_size);
  if (image.whole.md5 != nullptr) append_json_hex_bytes(line, "md5", image.whole.md5, dat_md5_size);
  line += '}';
  write_json_line(line);
}

// `dat` is null for the run's total, which alone counts unknown images.
void print_summary(const JsonCounts& counts, const DatFile* dat, size_t errors) {
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
  append_json_number(line, "in_place", counts.in_place);
  append_json_number(line, "elsewhere", counts.elsewhere);
  if (dat == nullptr) append_json_number(line, "unknown", counts.unknown);
  if (dat == nullptr) append_json_number(line, "errors", errors);
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
  total.in_place += part.in_place;
  total.elsewhere += part.elsewhere;
}

}  // namespace

// With several DATs, each one's objects end with its own summary, carrying
// "dat"; the last summary is the run's.
void print_audit_json(const DatFile* dats, size_t dat_count, const AuditImage* images, size_t image_count,
                      const AuditResult& result) {
  g_dats = dats;
  JsonCounts counts;
  for (size_t d = 0; d < dat_count; ++d) {
    JsonCounts dat_counts;
    for (uint32_t s = 0; s < dats[d].sets.count; ++s) {
      print_set(dats[d], s, images, result, static_cast<uint32_t>(d), dat_counts);
    }
    if (dat_count > 1) print_summary(dat_counts, &dats[d], 0);
    add_counts(counts, dat_counts);
  }
  for (size_t i = 0; i < image_count; ++i) {
    if (result.image_known[i]) continue;
    ++counts.unknown;
    print_unknown(images[i]);
  }
  print_json_failures();
  print_summary(counts, nullptr, result.places.places.size() - result.places.image_count);
}
