// Fuzz target for the DAT readers: the input is read as a DAT (any dialect,
// any packing) and as a header rule file; a DAT read is written out again
// and read back, which must give as many sets and ROMs.
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "dat/dat_loading.h"
#include "dat/dat_writer.h"
#include "dat/header_rule_file.h"

namespace {

void require(bool promise_kept) {
  if (!promise_kept) std::abort();
}

// Writing and reading back needs a file; one per process is enough.
std::FILE* scratch_file() {
  static std::FILE* const file = std::tmpfile();
  return file;
}

void write_and_read_back(const DatFile& dat) {
  std::FILE* file = scratch_file();
  if (file == nullptr) return;
  std::rewind(file);
  require(write_dat(file, dat, "fuzz"));
  const long size = std::ftell(file);
  require(size > 0);
  std::rewind(file);
  uint8_t* bytes = static_cast<uint8_t*>(std::malloc(static_cast<size_t>(size)));
  if (bytes == nullptr) return;
  require(std::fread(bytes, 1, static_cast<size_t>(size), file) == static_cast<size_t>(size));
  DatFile again;
  DatError error{};
  require(load_dat_memory(bytes, static_cast<size_t>(size), again, error));
  size_t sets_with_roms = 0;
  for (const DatSet& set : dat.sets) sets_with_roms += set.rom_count != 0;
  require(again.sets.count == sets_with_roms && again.roms.count == dat.roms.count);
  std::free(bytes);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  DatFile dat;
  DatError error{};
  if (load_dat_memory(data, size, dat, error)) {
    require(!has_dat_error(error));
    write_and_read_back(dat);
  } else {
    require(has_dat_error(error));
  }
  HeaderRules rules;
  DatError rules_error{};
  if (load_header_rules_memory(data, size, rules, rules_error)) {
    (void)decide_header_skip(rules, data, size, size);
  }
  return 0;
}
