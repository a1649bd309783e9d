// Set planning: which ROMs each set's archive holds, non-merged and split,
// over parents, clones and BIOS sets, and the DATs no set can be planned of.
#include <gtest/gtest.h>

#include <string>

#include "dat/dat_loading.h"
#include "rebuild/set_plan.h"

namespace {

const char test_dat[] = R"(clrmamepro ( name plan )
game ( name bios rom ( name bios.rom size 4 crc 11111111 ) )
game ( name parent romof bios
  rom ( name bios.rom merge bios.rom size 4 crc 11111111 )
  rom ( name p1.rom size 4 crc 22222222 )
  rom ( name P2.rom size 4 crc 23232323 ) )
game ( name clone cloneof parent romof parent
  rom ( name bios.rom merge bios.rom size 4 crc 11111111 )
  rom ( name c1.rom merge p1.rom size 4 crc 22222222 )
  rom ( name c2.rom size 4 crc 33333333 )
  rom ( name changed.rom merge P2.rom size 4 crc 44444444 )
  rom ( name nd.rom size 4 status nodump )
  rom ( name nothing.rom size 4 )
  rom ( name sub\x.rom size 1 crc 55555555 ) )
game ( name nomerge romof bios rom ( name bios.rom size 4 crc 11111111 ) rom ( name own.rom size 2 crc 66666666 ) )
game ( name orphan cloneof gone romof gone rom ( name o.rom merge o.rom size 1 crc 12121212 ) )
game ( name dup rom ( name B.rom size 1 crc 77777777 ) rom ( name a.rom size 1 crc 77777777 ) rom ( name a.rom size 1 crc 77777777 ) )
game ( name circle1 cloneof circle2 rom ( name r merge r size 1 crc 88888888 ) )
game ( name circle2 romof circle1 rom ( name r merge r size 1 crc 88888888 ) )
game ( name clash rom ( name a.rom size 1 crc 00000001 ) rom ( name a.rom size 1 crc 00000002 ) )
game ( name ../evil rom ( name a.rom size 1 crc 00000001 ) )
game ( name sneaky rom ( name ok.rom size 1 crc 00000001 ) rom ( name ..\x size 1 crc 00000002 ) )
)";

struct LoadedDat {
  DatFile dat{};
  LoadedDat() {
    DatError error{};
    EXPECT_TRUE(load_dat_memory(reinterpret_cast<const uint8_t*>(test_dat), sizeof test_dat - 1, dat, error))
        << error.line;
  }
  ~LoadedDat() { free_dat(dat); }
};

// The planned names, space-separated, or the problem.
std::string plan_text(const DatFile& dat, const char* set_name, MergeMode mode) {
  const int64_t set = find_dat_set(dat, set_name);
  if (set < 0) return "no such set";
  SetPlan plan;
  PlanProblem problem = PlanProblem::None;
  uint32_t problem_rom = 0;
  if (!plan_set(dat, static_cast<uint32_t>(set), mode, plan, problem, problem_rom)) {
    std::string text = "problem " + std::to_string(static_cast<int>(problem));
    if (problem == PlanProblem::UnsafeRomName || problem == PlanProblem::ClashingNames) {
      text += std::string(" at ") + dat_text(dat, dat.roms[problem_rom].name);
    }
    return text;
  }
  std::string text;
  for (const PlannedRom& rom : plan.roms) {
    if (!text.empty()) text += ' ';
    text += planned_rom_name(plan, rom);
  }
  return text;
}

}  // namespace

TEST(SetPlan, ChoosesEachSetsRomsNonMergedAndSplit) {
  LoadedDat loaded;
  struct Case {
    const char* set;
    const char* nonmerged;
    const char* split;
  };
  const Case cases[] = {
      {"bios", "bios.rom", "bios.rom"},
      {"parent", "bios.rom p1.rom P2.rom", "p1.rom P2.rom"},
      // c1 is the parent's p1 and leaves; changed.rom names P2.rom but differs: it stays.
      {"clone", "bios.rom c1.rom c2.rom changed.rom sub/x.rom", "c2.rom changed.rom sub/x.rom"},
      // No merge attributes: its BIOS's ROM goes by name and sums.
      {"nomerge", "bios.rom own.rom", "own.rom"},
      {"orphan", "o.rom", "o.rom"},
      {"dup", "a.rom B.rom", "a.rom B.rom"},
      // Each would leave r to the other: both keep it.
      {"circle1", "r", "r"},
      {"circle2", "r", "r"},
      {"clash", "problem 3 at a.rom", "problem 3 at a.rom"},
      {"../evil", "problem 1", "problem 1"},
      {"sneaky", "problem 2 at ..\\x", "problem 2 at ..\\x"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.set);
    EXPECT_EQ(plan_text(loaded.dat, c.set, MergeMode::NonMerged), c.nonmerged);
    EXPECT_EQ(plan_text(loaded.dat, c.set, MergeMode::Split), c.split);
  }
}
