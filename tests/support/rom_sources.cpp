// Test sources for the rebuild.
#include "support/rom_sources.h"

#include <dirent.h>
#include <openssl/sha.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstring>

#include "rebuild/temp_names.h"
#include "support/temp_dir.h"
#include "support/test_bytes.h"

namespace {

bool pour_test_rom(void* context, const RomSink& sink) {
  const auto& rom = *static_cast<const TestRom*>(context);
  ++rom.pour_count;
  if (rom.source_fails) return false;
  const std::string& bytes = rom.pours_other || !rom.poured.empty() ? rom.poured : rom.bytes;
  for (size_t at = 0; at < bytes.size(); at += rom.piece_size) {
    const size_t size = std::min(rom.piece_size, bytes.size() - at);
    if (!sink.take(sink.context, reinterpret_cast<const uint8_t*>(bytes.data()) + at, size)) return false;
  }
  return true;
}

void add_folder(const std::string& root, const std::string& relative, std::vector<TestRom>& roms) {
  const std::string path = relative.empty() ? root : root + "/" + relative;
  DIR* folder = opendir(path.c_str());
  if (folder == nullptr) return;
  while (const dirent* entry = readdir(folder)) {
    const std::string name = entry->d_name;
    if (name == "." || name == "..") continue;
    const std::string child = relative.empty() ? name : relative + "/" + name;
    struct stat status {};
    if (stat((root + "/" + child).c_str(), &status) != 0) continue;
    if (S_ISDIR(status.st_mode)) {
      add_folder(root, child, roms);
    } else {
      TestRom rom;
      rom.name = child;
      rom.bytes = read_file(root + "/" + child);
      roms.push_back(rom);
    }
  }
  closedir(folder);
}

}  // namespace

std::vector<RebuildRom> rebuild_roms_of(const std::vector<TestRom>& roms, bool with_sha1) {
  std::vector<RebuildRom> records;
  for (const TestRom& rom : roms) {
    RebuildRom record{};
    record.name = rom.name.c_str();
    record.size = rom.bytes.size();
    record.crc = crc32_of(rom.bytes);
    record.has_sha1 = with_sha1;
    SHA1(reinterpret_cast<const unsigned char*>(rom.bytes.data()), rom.bytes.size(), record.sha1);
    record.source = RomSource{const_cast<TestRom*>(&rom), pour_test_rom};
    records.push_back(record);
  }
  return records;
}

std::vector<TestRom> test_roms_in_folder(const std::string& folder) {
  std::vector<TestRom> roms;
  add_folder(folder, "", roms);
  return roms;
}

std::vector<std::string> leftover_names(const std::string& folder) {
  std::vector<std::string> names;
  DIR* listing = opendir(folder.c_str());
  if (listing == nullptr) return names;
  while (const dirent* entry = readdir(listing)) {
    if (std::strncmp(entry->d_name, rebuild_temp_prefix, std::strlen(rebuild_temp_prefix)) == 0) {
      names.emplace_back(entry->d_name);
    }
  }
  closedir(listing);
  return names;
}
