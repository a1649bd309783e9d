// Every ROM gets an object, complete sets included, so that a script sees the
// whole DAT; names follow the listing's JSON rule (UTF-8 as it is, anything
// else replaced and given again in hex). The images of "found" that are not
// UTF-8 are given again, all of them in order, in "found_hex".
#include "report/audit_json.h"

#include <cstring>
#include <string>

#include "audit/disk_matching.h"
#include "report/audit_walk.h"
#include "report/json_listing.h"
#include "report/json_text.h"

namespace {

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

// {"type":TYPE,"dat":...,"set":...,
std::string item_line(const char* type, const ReportedSetItem& item) {
  std::string line = "{\"type\":\"";
  line += type;
  line += "\",";
  append_json_name(line, "dat", dat_text(item.dat, item.dat.name));
  line += ',';
  append_json_name(line, "set", dat_text(item.dat, item.set.name));
  return line;
}

void write_with_verdict(std::string& line, const AuditReport& report, const RomJudgement& judged,
                        const RomMatches& matches) {
  line += ",\"status\":\"";
  line += rom_verdict_word(judged.verdict);
  line += '"';
  append_json_bool(line, "in_place", judged.verdict == RomVerdict::InPlace);
  append_found(line, report.images, matches);
  line += '}';
  write_json_line(line);
}

void print_rom(const AuditReport& report, const ReportedSetItem& item, uint32_t rom_index, const RomJudgement& judged) {
  const DatRom& rom = item.dat.roms[rom_index];
  std::string line = item_line("rom", item);
  line += ',';
  append_json_name(line, "rom", dat_text(item.dat, rom.name));
  append_json_number(line, "size", rom.size);
  if (rom.fields & dat_has_crc) {
    append_json_hex(line, "crc", rom.crc, 8);
  } else {
    line += ",\"crc\":null";
  }
  write_with_verdict(line, report, judged, rom_matches(*report.result, item.dat_index, rom_index));
}

void print_disk(const AuditReport& report, const ReportedSetItem& item, uint32_t disk_index,
                const RomJudgement& judged) {
  const DatDisk& disk = item.dat.disks[disk_index];
  std::string line = item_line("disk", item);
  line += ',';
  append_json_name(line, "disk", dat_text(item.dat, disk.name));
  if (disk.fields & dat_has_sha1) {
    append_json_hex_bytes(line, "sha1", disk.sha1, dat_sha1_size);
  } else {
    line += ",\"sha1\":null";
  }
  write_with_verdict(line, report, judged, disk_matches_of(*report.result, item.dat_index, disk_index));
}

// The sets and ROMs whose bytes the image holds, wherever they belong.
void append_wanted_by(std::string& line, const AuditReport& report, uint32_t image) {
  line += ",\"wanted_by\":[";
  bool first = true;
  for (const AuditMatch& match : report.result->matches) {
    if (match.image != image) continue;
    const DatFile& dat = report.dats[match.dat];
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

void print_unneeded(const AuditReport& report, const ReportedSetItem& item, uint32_t image) {
  std::string line = "{\"type\":\"unneeded\",";
  append_json_name(line, "set", dat_text(item.dat, item.set.name));
  line += ',';
  append_json_name(line, "name", display_name(*report.images[image].origin).c_str());
  append_wanted_by(line, report, image);
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

// Every set gives its ROMs, complete or not.
bool take_set_items(const AuditReport&, const ReportedSetItem&) {
  return true;
}

// The set's object follows its ROMs.
void print_set(const AuditReport&, const ReportedSetItem& item) {
  const SetVerdict& verdict = item.verdict;
  std::string line = item_line("set", item);
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

void print_unknown(const AuditReport& report, size_t index) {
  const AuditImage& image = report.images[index];
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
void print_counts(const AuditCounts& counts, const DatFile* dat, size_t errors) {
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
  append_json_number(line, "have", counts.found);
  append_json_number(line, "in_place", counts.in_place);
  append_json_number(line, "elsewhere", counts.elsewhere);
  if (dat == nullptr) append_json_number(line, "unknown", counts.unknown);
  if (dat == nullptr) append_json_number(line, "errors", errors);
  line += '}';
  write_json_line(line);
}

// With several DATs, each one's objects end with its own summary, carrying
// "dat"; the last summary is the run's, after the walk's failures.
void print_dat_summary(const AuditReport& report, uint32_t dat, const AuditCounts& counts) {
  print_counts(counts, &report.dats[dat], 0);
}

void print_summary(const AuditReport&, const AuditCounts& counts, size_t unreadable) {
  print_json_failures();
  print_counts(counts, nullptr, unreadable);
}

constexpr AuditPrinter json_printer{nullptr,        print_dat_summary, take_set_items, print_rom,    print_disk,
                                    print_unneeded, print_set,         print_unknown,  print_summary};

}  // namespace

void print_audit_json(const DatFile* dats, size_t dat_count, const AuditImage* images, size_t image_count,
                      const AuditResult& result) {
  walk_audit_report({dats, dat_count, images, image_count, &result}, json_printer);
}
