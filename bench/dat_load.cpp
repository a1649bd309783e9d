// Loads one DAT and prints what it holds: the DAT loading benchmark's
// program, measured by bench/run.py for time and peak memory.
#include <cinttypes>
#include <cstdio>

#include "dat/dat_loading.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fputs("usage: dat_load FILE\n", stderr);
    return 2;
  }
  DatFile dat;
  DatError error{};
  if (!load_dat_file(argv[1], dat, error)) {
    std::fprintf(stderr, "dat_load: cannot read DAT %s: line %" PRIu64 ": %s\n", argv[1], error.line, error.reason);
    return 1;
  }
  std::printf("%zu sets, %zu ROMs, %" PRIu32 " disks, %zu bytes of names\n", dat.sets.count, dat.roms.count,
              dat.disk_count, dat.arena.count);
  return 0;
}
