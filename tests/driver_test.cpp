// The command line end to end: options, usage errors, exit statuses.
#include <gtest/gtest.h>

#include <unistd.h>

#include <string>
#include <vector>

#include "support/run_imgchk.h"
#include "support/temp_dir.h"

namespace {

const std::string usage =
    "usage: imgchk [-m1 | -m2 | -pzc] [--json] [-jN] [--cache[=FILE]] [--recheck] [--strict]\n"
    "              [--exclude PATTERN]... [--] file/directory/zip...\n"
    "       imgchk [--dat FILE]... [--fixdat FILE] [--header FILE]\n"
    "              [--dir2dat FILE [--sha256] [--md5]]\n"
    "              [--rebuild OUT [--merge nonmerged|split] [--complete-only] [--rebuild-as zip|dir]\n"
    "              [--backup DIR] [--dry-run]]\n"
    "              [--json] [-jN] [--cache[=FILE]] [--recheck] [--strict] [--exclude PATTERN]...\n"
    "              [--] file/directory/zip...\n"
    "       imgchk -h | --help | --version\n";
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
  tree.write("y.dat", "");
  ASSERT_EQ(symlink("y.dat", tree.at("link.dat").c_str()), 0);
  tree.make_dir("sub");
  expect_runs(
      {
          {{}, "", usage, 1},
          {{"-x", "a.bin"}, "", "imgchk: unknown argument '-x'\n" + usage, 1},
          {{"-"}, "", "imgchk: unknown argument '-'\n" + usage, 1},
          {{"--"}, "", usage, 1},
          {{"-m1", "--"}, "", usage, 1},
          {{"---", "a.bin"}, "", "imgchk: unknown argument '---'\n" + usage, 1},
          {{"-help", "a.bin"}, "", "imgchk: unknown argument '-help'\n" + usage, 1},
          {{"-x", "--help"}, "", "imgchk: unknown argument '-x'\n" + usage, 1},
          {{"-M1", "a.bin"}, "", "imgchk: unknown argument '-M1'\n" + usage, 1},
          {{"-m1x", "a.bin"}, "", "imgchk: unknown argument '-m1x'\n" + usage, 1},
          {{"-m1", "-pzc", "-q", "a.bin"}, "", "imgchk: unknown argument '-q'\n" + usage, 1},
          {{"--cache=", "a.bin"}, "", "imgchk: unknown argument '--cache='\n" + usage, 1},
          {{"--caches", "a.bin"}, "", "imgchk: unknown argument '--caches'\n" + usage, 1},
          {{"--recheck=x", "a.bin"}, "", "imgchk: unknown argument '--recheck=x'\n" + usage, 1},
          // A name cannot move the cursor or forge a line of its own.
          {{"-\x1b[2J\nimgchk: ok\xff"}, "", "imgchk: unknown argument '-%1B[2J%0Aimgchk: ok\xff'\n" + usage, 1},
          {{"-m1", "--dat", "x.dat", "a.bin"}, "", "imgchk: -m1 cannot be used with --dat\n" + usage, 1},
          {{"--dat=x.dat", "-m2", "a.bin"}, "", "imgchk: -m2 cannot be used with --dat\n" + usage, 1},
          {{"-pzc", "--dir2dat", "o.dat", "a.bin"}, "", "imgchk: -pzc cannot be used with --dir2dat\n" + usage, 1},
          {{"--fixdat", "f.dat", "a.bin"}, "", "imgchk: --fixdat needs --dat\n" + usage, 1},
          {{"--md5", "a.bin"}, "", "imgchk: --md5 needs --dir2dat\n" + usage, 1},
          {{"--header=h.xml", "--dir2dat", "o.dat", "a.bin"}, "", "imgchk: --header needs --dat\n" + usage, 1},
          {{"--dat"}, "", "imgchk: --dat needs a file name\n" + usage, 1},
          {{"--dat="}, "", "imgchk: --dat needs a file name\n" + usage, 1},
          {{"--datx", "a.bin"}, "", "imgchk: unknown argument '--datx'\n" + usage, 1},
          // An output may not be an input, nor the other output: by path
          // before the file exists, by device and inode once it does.
          {{"--dat", "x.dat", "--fixdat", "./x.dat", "a.bin"},
           "",
           "imgchk: --fixdat ./x.dat is the same file as --dat x.dat\n" + usage,
           1},
          {{"--dat=y.dat", "--dat", "x.dat", "--dir2dat", "link.dat", "a.bin"},
           "",
           "imgchk: --dir2dat link.dat is the same file as --dat y.dat\n" + usage,
           1},
          {{"--dat", "x.dat", "--header", "h.xml", "--fixdat", "sub/../h.xml", "a.bin"},
           "",
           "imgchk: --fixdat sub/../h.xml is the same file as --header h.xml\n" + usage,
           1},
          {{"--dat", "x.dat", "--fixdat", "f.dat", "--dir2dat=f.dat", "a.bin"},
           "",
           "imgchk: --fixdat f.dat is the same file as --dir2dat f.dat\n" + usage,
           1},
          // An audit of nothing is refused, as "--" with nothing after it is.
          {{"--dat", "x.dat"}, "", usage, 1},
          {{"--dat=x.dat", "--strict"}, "", usage, 1},
          {{"--dat", "x.dat", "--"}, "", usage, 1},
          {{"--exclude"}, "", "imgchk: --exclude needs a pattern\n" + usage, 1},
          {{"--exclude=", "a.bin"}, "", "imgchk: --exclude needs a pattern\n" + usage, 1},
          {{"--excludes", "x", "a.bin"}, "", "imgchk: unknown argument '--excludes'\n" + usage, 1},
          // A flag takes no '=', a glued worker count only 1 to 1024.
          {{"--json=1", "a.bin"}, "", "imgchk: unknown argument '--json=1'\n" + usage, 1},
          {{"--md5=", "a.bin"}, "", "imgchk: unknown argument '--md5='\n" + usage, 1},
          {{"--=x", "a.bin"}, "", "imgchk: unknown argument '--=x'\n" + usage, 1},
          {{"-h=", "a.bin"}, "", "imgchk: unknown argument '-h='\n" + usage, 1},
          {{"-j", "a.bin"}, "", "imgchk: unknown argument '-j'\n" + usage, 1},
          {{"-j0", "a.bin"}, "", "imgchk: unknown argument '-j0'\n" + usage, 1},
          {{"-j01", "a.bin"}, "", "imgchk: unknown argument '-j01'\n" + usage, 1},
          {{"-j1025", "a.bin"}, "", "imgchk: unknown argument '-j1025'\n" + usage, 1},
          {{"-json", "a.bin"}, "", "imgchk: unknown argument '-json'\n" + usage, 1},
          // "--opt=" has no value; an empty next argument is the option's
          // to judge: a pattern must not be empty, a file name is tried.
          {{"--fixdat=", "--dat", "x.dat", "a.bin"}, "", "imgchk: --fixdat needs a file name\n" + usage, 1},
          {{"--exclude", "", "a.bin"}, "", "imgchk: --exclude needs a pattern\n" + usage, 1},
          {{"--dat", "", "a.bin"}, "", "imgchk: cannot read DAT : No such file or directory\n", 1},
          // A value is the next argument whatever it looks like.
          {{"--dat", "--help"}, "", usage, 1},
          {{"--exclude", "--json", "a.bin"}, abc_listing, "", 0},
          // The checks between options come in a fixed order, whatever the
          // order given; the last mode option and the last --fixdat count.
          {{"--sha256", "--md5", "a.bin"}, "", "imgchk: --md5 needs --dir2dat\n" + usage, 1},
          {{"--md5", "--header", "h.xml", "--fixdat", "f.dat", "a.bin"},
           "",
           "imgchk: --fixdat needs --dat\n" + usage,
           1},
          {{"-m1", "-m2", "--dat", "x.dat", "a.bin"}, "", "imgchk: -m2 cannot be used with --dat\n" + usage, 1},
          {{"--dat", "x.dat", "--fixdat", "x.dat", "--fixdat=f.dat", "a.bin"},
           "",
           "imgchk: cannot read DAT x.dat: No such file or directory\n",
           1},
          // After the first path every argument is a path.
          {{"a.bin", "--dat", "x.dat"}, abc_listing, "imgchk: error opening --dat\nimgchk: error opening x.dat\n", 0},
      },
      tree.path);
}

TEST(CommandLine, WorkerCountsLeaveEveryModesOutputAsItWas) {
  TempDir tree;
  tree.write("a.bin", "abc");
  tree.write("b.bin", std::string(2048, '\xFF'));
  tree.write("c.bin", std::string(12288, 'c'));
  for (const char* mode : {"", "-m1", "-m2", "-pzc"}) {
    std::vector<std::string> plain_args;
    if (*mode != '\0') plain_args.push_back(mode);
    plain_args.insert(plain_args.end(), {"a.bin", "missing.bin", "b.bin", "c.bin"});
    const RunResult plain = run_imgchk(plain_args, tree.path);
    for (const char* workers : {"-j1", "-j8", "-j1024"}) {
      std::vector<std::string> args = plain_args;
      args.insert(args.begin(), workers);  // before the mode option
      expect_runs({{args, plain.out, plain.err, plain.status}}, tree.path);
    }
  }
}

TEST(CommandLine, HelpAndVersionAnswerOnStandardOutputWhereverTheOptionsAre) {
  TempDir tree;
  const std::string help = usage +
                           "  -m1          catalogue only 12, 14 and 16 KiB images, with their segment sums\n"
                           "  -m2          catalogue only 2 KiB images, with their shift-register checksums\n"
                           "  -pzc         list the comments of zip archives, nothing else\n"
                           "  --json       write the listing (or the audit) as JSON Lines, for scripts\n"
                           "  -jN          read with N workers, 1 to 1024 (default: one per online CPU)\n"
                           "  --cache      keep what was read in ~/.cache/imgchk/cache.sqlite, and read\n"
                           "               again only files whose size or times changed (a rename too)\n"
                           "  --cache=FILE the same with the cache in FILE\n"
                           "  --recheck    with the cache, read every file and report those whose bytes\n"
                           "               changed while their size and times did not\n"
                           "  --strict     exit with status 4 when a path or entry could not be read\n"
                           "  --exclude PATTERN  leave out every folder, file and archive entry whose\n"
                           "               name matches the shell pattern (repeatable; --exclude=PATTERN)\n"
                           "  --           end of options: every later argument is a path\n"
                           "  -h, --help   print this help and exit\n"
                           "  --version    print the version and exit\n"
                           "  --dat FILE   audit against the DAT FILE instead of listing (repeatable);\n"
                           "               exit status 2 when a ROM or disk is not in place, 4 when a\n"
                           "               path or entry could not be read, 6 for both\n"
                           "  --fixdat FILE   write the ROMs the audit finds missing as a DAT\n"
                           "  --dir2dat FILE  write what the run catalogues as a DAT\n"
                           "  --header FILE   read copier headers by these rules, not the built-in ones\n"
                           "  --sha256     give the ROMs of --dir2dat their SHA-256 too\n"
                           "  --md5        give the ROMs of --dir2dat their MD5 too\n"
                           "  --rebuild OUT   after the audit, write each set found (even in part) as\n"
                           "               the TorrentZip archive OUT/SET.zip; OUT is walked first\n"
                           "  --merge nonmerged|split  nonmerged: a set holds every ROM listed under it\n"
                           "               (the default); split: a clone leaves out its parent's ROMs\n"
                           "  --complete-only  write only the sets whose every ROM was found\n"
                           "  --rebuild-as zip|dir  dir: write the ROMs as plain files OUT/SET/ROM\n"
                           "  --backup DIR    move a file the rebuild replaces and that holds images\n"
                           "               the set does not into DIR, instead of refusing\n"
                           "  --dry-run    say what the rebuild would write; write nothing\n";
  const std::string version = std::string("imgchk ") + IMGCHK_EXPECTED_VERSION + "\n";
  expect_runs(
      {
          {{"--help"}, help, "", 0},
          {{"-h"}, help, "", 0},
          {{"-m1", "-j2", "--help", "missing.bin"}, help, "", 0},
          {{"--help", "-x"}, help, "", 0},
          {{"--version"}, version, "", 0},
          {{"-pzc", "--version"}, version, "", 0},
          // After the end of the options they are paths.
          {{"--", "--help"}, empty_all, "imgchk: error opening --help\n", 0},
          {{"missing.bin", "--version"},
           empty_all,
           "imgchk: error opening missing.bin\nimgchk: error opening --version\n",
           0},
      },
      tree.path);
  EXPECT_EQ(run_imgchk({"--help"}, tree.path, "/dev/full").status, 1);
}

TEST(CommandLine, DoubleDashMakesEveryLaterArgumentAPath) {
  TempDir tree;
  tree.write("a.bin", "abc");
  tree.write("-x.bin", "abc");
  const std::string both =
      "\n  352441C2 0126      3 -x.bin\nD 352441C2 0126      3 a.bin\n\n"
      "2 ROMs, 1 unique, 1 duplicates, 0 unchecked\n";
  expect_runs(
      {
          {{"--", "a.bin"}, abc_listing, "", 0},
          {{"--", "-x.bin", "a.bin"}, both, "", 0},
          {{"-j3", "-m1", "--", "-x.bin"}, "\n0 ROMs, 0 unique, 0 duplicates, 0 unchecked, 1 skipped\n\n", "", 0},
          {{"--", "-m1", "--"}, empty_all, "imgchk: error opening -m1\nimgchk: error opening --\n", 0},
          {{"-x.bin"}, "", "imgchk: unknown argument '-x.bin'\n" + usage, 1},
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
          {{"--strict", "missing.bin"}, empty_all, "imgchk: error opening missing.bin\n", 4},
          {{"--strict", "a.bin"}, abc_listing, "", 0},
          {{"a.bin", "a.bin"},
           "\n  352441C2 0126      3 a.bin\nD 352441C2 0126      3 a.bin\n\n"
           "2 ROMs, 1 unique, 1 duplicates, 0 unchecked\n",
           "",
           0},
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

// An OpenSSL that offers no SHA-256 (here: only its null provider) ends the
// run before the walk with a message, never with an exception; -pzc digests
// nothing and runs.
TEST(CommandLine, WithoutSha256TheRunEndsBeforeWalking) {
  TempDir tree;
  tree.write("a.bin", "abc");
  const std::string config = tree.write("null.cnf",
                                        "openssl_conf = openssl_init\n[openssl_init]\nproviders = provider_sect\n"
                                        "[provider_sect]\nnull = null_sect\n[null_sect]\nactivate = 1\n");
  for (const Case& c : std::vector<Case>{{{"a.bin"}, "", "imgchk: SHA-256 is not available from OpenSSL\n", 1},
                                         {{"-pzc", "a.bin"}, "", "", 0}}) {
    SCOPED_TRACE(c.args[0]);
    const RunResult result = run_program(imgchk_path(), c.args, tree.path, "", {"OPENSSL_CONF=" + config});
    EXPECT_EQ(result.out, c.out);
    EXPECT_EQ(result.err, c.err);
    EXPECT_EQ(result.status, c.status);
  }
}
