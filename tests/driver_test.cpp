// The command line end to end: options, usage errors, exit statuses.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/run_imgchk.h"
#include "support/temp_dir.h"

namespace {

const std::string usage = "usage: imgchk [-m1] [-m2] [-pzc] file/directory/zip\n";
const std::string empty_all = "\n0 ROMs, 0 unique, 0 duplicates, 0 unchecked\n";
const std::string empty_filtered = "\n0 ROMs, 0 unique, 0 duplicates, 0 unchecked, 0 skipped\n\n";
const std::string abc_listing = "\n  352441C2 0126      3 a.bin\n\n1 ROMs, 1 unique, 0 duplicates, 0 unchecked\n";

struct Case {
  std::vector<std::string> args;
  std::string out;
  std::string err;
  int status;
};

void expect_runs(const std::vector<Case>& cases, const std::string& cwd) {
  for (const Case& c : cases) {
    std::string trace = "imgchk";
    for (const std::string& arg : c.args) trace += " '" + arg + "'";
    SCOPED_TRACE(trace);
    const RunResult result = run_imgchk(c.args, cwd);
    EXPECT_EQ(result.out, c.out);
    EXPECT_EQ(result.err, c.err);
    EXPECT_EQ(result.status, c.status);
  }
}

}  // namespace

TEST(CommandLine, RefusesUnknownOptionsBeforeWalkingAnything) {
  TempDir tree;
  tree.write("a.bin", "abc");
  expect_runs(
      {
          {{}, "", usage, 1},
          {{"-x", "a.bin"}, "", "imgchk: unknown argument '-x'\n" + usage, 1},
          {{"-"}, "", "imgchk: unknown argument '-'\n" + usage, 1},
          {{"--", "a.bin"}, "", "imgchk: unknown argument '--'\n" + usage, 1},
          {{"-M1", "a.bin"}, "", "imgchk: unknown argument '-M1'\n" + usage, 1},
          {{"-m1x", "a.bin"}, "", "imgchk: unknown argument '-m1x'\n" + usage, 1},
          {{"-m1", "-pzc", "-q", "a.bin"}, "", "imgchk: unknown argument '-q'\n" + usage, 1},
      },
      tree.path);
}

TEST(CommandLine, LastOptionWinsAndOptionsEndAtTheFirstPath) {
  TempDir tree;
  tree.write("a.bin", "abc");
  tree.write("b.bin", std::string(2048, '\xFF'));
  const std::string b_in_m2 =
      "\n  3F55D17F F800    800 1180 b.bin\n\n1 ROMs, 1 unique, 0 duplicates, 0 unchecked, 1 skipped\n\n";
  expect_runs(
      {
          {{"-m1"}, empty_filtered, "", 0},
          {{"-m2"}, empty_filtered, "", 0},
          {{"-pzc"}, "", "", 0},
          {{"a.bin"}, abc_listing, "", 0},
          {{"a.bin", "-m1"}, abc_listing, "imgchk: error opening -m1\n", 0},
          {{"-m1", "-m2", "a.bin", "b.bin"}, b_in_m2, "", 0},
          {{"-m2", "-pzc", "a.bin", "b.bin"}, "", "", 0},
          {{"-pzc", "-m2", "b.bin", "a.bin"}, b_in_m2, "", 0},
      },
      tree.path);
}

TEST(CommandLine, WalkingErrorsLeaveTheExitStatusAtZero) {
  TempDir tree;
  tree.write("a.bin", "abc");
  expect_runs(
      {
          {{"missing.bin"}, empty_all, "imgchk: error opening missing.bin\n", 0},
          {{"-m1", "missing.bin"}, empty_filtered, "imgchk: error opening missing.bin\n", 0},
          {{"a.bin", "a.bin"},
           "\n  352441C2 0126      3 a.bin\nD 352441C2 0126      3 a.bin\n\n"
           "2 ROMs, 1 unique, 1 duplicates, 0 unchecked\n",
           "", 0},
      },
      tree.path);
}

TEST(CommandLine, AListingThatCannotBeWrittenFailsTheRun) {
  TempDir tree;
  tree.write("a.bin", "abc");
  const RunResult full = run_imgchk({"a.bin"}, tree.path, "/dev/full");
  EXPECT_EQ(full.err, "imgchk: write error on standard output\n");
  EXPECT_EQ(full.status, 1);
  // -pzc with nothing to print writes nothing, so nothing can fail.
  const RunResult quiet = run_imgchk({"-pzc", "a.bin"}, tree.path, "/dev/full");
  EXPECT_EQ(quiet.err, "");
  EXPECT_EQ(quiet.status, 0);
}
