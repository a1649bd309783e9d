// Rebuilding sets end to end: a collection built here, the built imgchk
// run on it with --rebuild, the archives it writes and its output compared
// byte for byte, and what it must never touch checked untouched.
#include <gtest/gtest.h>
#include <openssl/evp.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "support/run_imgchk.h"
#include "support/temp_dir.h"
#include "support/test_bytes.h"
#include "support/zip_builder.h"

#ifndef IMGCHK_TORRENTZIP_DIR
#error "IMGCHK_TORRENTZIP_DIR names the reference archives' folder"
#endif

namespace {

std::string hex_of(const unsigned char* bytes, unsigned int size) {
  std::string hex;
  char pair[3];
  for (unsigned int k = 0; k < size; ++k) {
    std::snprintf(pair, sizeof pair, "%02x", bytes[k]);
    hex += pair;
  }
  return hex;
}

std::string sha1_hex(const std::string& bytes) {
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int size = 0;
  EVP_Digest(bytes.data(), bytes.size(), digest, &size, EVP_sha1(), nullptr);
  return hex_of(digest, size);
}

std::string rom(const std::string& name, const std::string& bytes, const std::string& extra = "") {
  char crc[9];
  std::snprintf(crc, sizeof crc, "%08x", crc32_of(bytes));
  return "<rom name=\"" + name + "\" size=\"" + std::to_string(bytes.size()) + "\" crc=\"" + crc + "\" sha1=\"" +
         sha1_hex(bytes) + "\"" + extra + "/>";
}

std::string game(const std::string& name, const std::string& roms, const std::string& attributes = "") {
  return "<game name=\"" + name + "\"" + attributes + ">" + roms + "</game>\n";
}

std::string datafile(const std::string& games) {
  return "<?xml version=\"1.0\"?>\n<datafile>\n<header><name>Rebuild</name></header>\n" + games + "</datafile>\n";
}

bool has_tools(const std::string& names) {
  return run_program("sh", {"-c", "for t in " + names + "; do command -v $t >/dev/null || exit 1; done"}).status == 0;
}

void run_in(const TempDir& dir, const std::string& command) {
  const RunResult result = run_program("sh", {"-c", command}, dir.path);
  ASSERT_EQ(result.status, 0) << command << "\n" << result.err;
}

std::string reference(const std::string& relative) {
  return read_file(std::string(IMGCHK_TORRENTZIP_DIR) + "/" + relative);
}

struct FileState {
  ino_t inode;
  timespec modified;
  std::string bytes;
};

FileState state_of(const std::string& path) {
  struct stat status {};
  EXPECT_EQ(stat(path.c_str(), &status), 0) << path;
  return {status.st_ino, status.st_mtim, read_file(path)};
}

void expect_untouched(const FileState& before, const std::string& path) {
  const FileState after = state_of(path);
  EXPECT_EQ(after.inode, before.inode) << path;
  EXPECT_EQ(after.modified.tv_sec, before.modified.tv_sec) << path;
  EXPECT_EQ(after.modified.tv_nsec, before.modified.tv_nsec) << path;
  EXPECT_EQ(after.bytes, before.bytes) << path;
}

bool exists_at(const std::string& path) {
  struct stat status {};
  return stat(path.c_str(), &status) == 0;
}

// The files of a folder whose names start so, found by the shell.
std::string files_named(const TempDir& tree, const std::string& pattern) {
  return run_program("sh", {"-c", "find . -name '" + pattern + "' | sort"}, tree.path).out;
}

// The reference inputs of two archives, each set's ROMs in another kind
// of container: 7z, tar.gz, a zip inside a zip and loose files.
struct ReferenceSets {
  TempDir tree;
};

void build_reference_sets(ReferenceSets& r) {
  const std::string base = std::string(IMGCHK_TORRENTZIP_DIR) + "/inputs/";
  const std::string a = read_file(base + "basic/a.bin"), b = read_file(base + "basic/B.rom");
  const std::string c = read_file(base + "basic/c.bin"), readme = read_file(base + "subdir/readme.txt");
  const std::string t1 = read_file(base + "subdir/disc/track01.bin");
  const std::string t2 = read_file(base + "subdir/disc/track02.bin");
  r.tree.write("p/a.bin", a);
  r.tree.write("p/B.rom", b);
  r.tree.write("src/loose/c.bin", c);
  r.tree.write("q/t1.bin", t1);
  r.tree.write("src/outer.zip",
               build_zip(zip_of({stored_entry("inner.zip", build_zip(zip_of({deflated_entry("track.bin", t2)})))})));
  r.tree.write("src/readme.txt", readme);
  // In one solid block, a ROM after a larger one: read again, the entry
  // before it is read through, not skipped.
  const std::string s0 = random_bytes(32768, 31) + std::string(32768, '\0');
  const std::string s1 = random_bytes(8192, 32) + std::string(8192, '\0');
  r.tree.write("s/s0.bin", s0);
  r.tree.write("s/s1.bin", s1);
  // Several ROMs of a set in one archive read in order, one of them found
  // with a copier header the DAT lists it without: read in one pass, each
  // poured in the set's order with its header skipped.
  const std::string nes_body = random_bytes(512, 33), nes = "NES\x1A" + std::string(12, '\0') + nes_body;
  const std::string nes7_body = random_bytes(768, 36), nes7 = "NES\x1A" + std::string(12, '\1') + nes7_body;
  const std::string g0 = random_bytes(20000, 34) + std::string(9000, 'g'), g1 = random_bytes(300, 35);
  r.tree.write("s/game.nes", nes7);
  r.tree.write("q/game.nes", nes);
  r.tree.write("q/g0.bin", g0);
  r.tree.write("q/g1.bin", g1);
  run_in(r.tree,
         "cd p && 7zz a -bd -bso0 ../src/basic.7z a.bin B.rom && cd ../q && "
         "tar -czf ../src/t.tar.gz g1.bin t1.bin game.nes g0.bin && "
         "cd ../s && 7zz a -bd -bso0 -ms=on ../src/solid.7z s0.bin game.nes s1.bin");
  // A ROM name with '\' is a folder separator.
  const std::string dat =
      datafile(game("basic", rom("c.bin", c) + rom("a.bin", a) + rom("B.rom", b)) +
               game("subdir", rom("readme.txt", readme) + rom("disc\\track01.bin", t1) + rom("disc/track02.bin", t2)) +
               game("absent", rom("none.bin", random_bytes(40, 77))) +
               game("solid", rom("s1.bin", s1) + rom("s0.bin", s0) + rom("game.nes", nes7_body)) +
               game("tarred", rom("g0.bin", g0) + rom("game.nes", nes_body) + rom("g1.bin", g1)));
  r.tree.write("sets.dat", dat);
}

TEST(RebuildRun, SourcesOfEveryKindBecomeTheReferenceArchivesThenAreKept) {
  if (!has_tools("7zz tar gzip")) GTEST_SKIP() << "archive tools missing";
  ReferenceSets r;
  build_reference_sets(r);
  // The set "absent" is missing: status 2, before and after the rebuild.
  const RunResult audit = run_imgchk({"--dat", "sets.dat", "src"}, r.tree.path);
  ASSERT_EQ(audit.status, 2) << audit.err;
  // The output folder is made, walked first (given again as a path, once).
  for (const char* jobs : {"-j1", "-j2"}) {
    SCOPED_TRACE(jobs);
    run_in(r.tree, "rm -rf out");
    const RunResult run = run_imgchk({jobs, "--dat", "sets.dat", "--rebuild", "out", "src", "out"}, r.tree.path);
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(run.status, 2);
    EXPECT_EQ(run.out, audit.out +
                           "wrote out/basic.zip (3 of 3)\n"
                           "wrote out/subdir.zip (3 of 3)\n"
                           "wrote out/solid.zip (3 of 3)\n"
                           "wrote out/tarred.zip (3 of 3)\n"
                           "rebuild: 4 written, 0 kept, 0 not written\n");
    EXPECT_EQ(read_file(r.tree.at("out/basic.zip")), reference("expected/basic.zip"));
    EXPECT_EQ(read_file(r.tree.at("out/subdir.zip")), reference("expected/subdir.zip"));
  }
  const FileState basic = state_of(r.tree.at("out/basic.zip"));
  const FileState subdir = state_of(r.tree.at("out/subdir.zip"));
  const RunResult again = run_imgchk({"--dat", "sets.dat", "--rebuild", "out", "src"}, r.tree.path);
  EXPECT_EQ(again.err, "");
  EXPECT_EQ(
      again.out,
      "missing absent\n"
      "5 sets: 4 complete, 0 partial, 1 missing; 12 of 13 ROMs in place, 0 elsewhere; 0 unknown images; 0 unreadable\n"
      "kept out/basic.zip\n"
      "kept out/subdir.zip\n"
      "kept out/solid.zip\n"
      "kept out/tarred.zip\n"
      "rebuild: 0 written, 4 kept, 0 not written\n");
  expect_untouched(basic, r.tree.at("out/basic.zip"));
  expect_untouched(subdir, r.tree.at("out/subdir.zip"));
  // The output folder alone is the source now.
  run_in(r.tree, "rm -rf src");
  const RunResult alone = run_imgchk({"--json", "--dat", "sets.dat", "--rebuild=out"}, r.tree.path);
  EXPECT_NE(alone.out.find("{\"type\":\"rebuild\",\"set\":\"basic\",\"file\":\"out/basic.zip\",\"action\":\"kept\","
                           "\"have\":3,\"roms\":3}\n"
                           "{\"type\":\"rebuild\",\"set\":\"subdir\",\"file\":\"out/subdir.zip\",\"action\":\"kept\","
                           "\"have\":3,\"roms\":3}\n"
                           "{\"type\":\"rebuild\",\"set\":\"solid\",\"file\":\"out/solid.zip\",\"action\":\"kept\","
                           "\"have\":3,\"roms\":3}\n"
                           "{\"type\":\"rebuild\",\"set\":\"tarred\",\"file\":\"out/tarred.zip\",\"action\":\"kept\","
                           "\"have\":3,\"roms\":3}\n"
                           "{\"type\":\"rebuild_summary\",\"written\":0,\"kept\":4,\"not_written\":0}\n"),
            std::string::npos)
      << alone.out;
  expect_untouched(basic, r.tree.at("out/basic.zip"));
}

// One collection for the cases below: a set in a plain zip, a parent and
// its clone, copier-headered images, a stray file.
struct Collection {
  TempDir tree;
  std::string w1, w2, p, c, nes_body, nes_image, lynx_image, stray;
};

void build_collection(Collection& k) {
  k.w1 = random_bytes(100, 1);
  k.w2 = random_bytes(120, 2);
  k.p = random_bytes(70, 3);
  k.c = random_bytes(75, 4);
  k.nes_body = random_bytes(256, 5);
  k.nes_image = "NES\x1A" + std::string(12, '\0') + k.nes_body;
  k.lynx_image = "LYNX" + std::string(60, '\x01') + random_bytes(512, 6);
  k.stray = random_bytes(33, 7);
  k.tree.write("c/whole.zip", build_zip(zip_of({stored_entry("w1.bin", k.w1), deflated_entry("w2.bin", k.w2)})));
  k.tree.write("c/parent.zip", build_zip(zip_of({stored_entry("p.bin", k.p), stored_entry("c.bin", k.c)})));
  k.tree.write("c/game.nes", k.nes_image);
  k.tree.write("c/game.lnx", k.lynx_image);
  // The NES ROM listed without its header, the Lynx one with it.
  k.tree.write("k.dat",
               datafile(game("whole", rom("w1.bin", k.w1) + rom("w2.bin", k.w2)) + game("parent", rom("p.bin", k.p)) +
                        game("clone", rom("c.bin", k.c) + rom("p.bin", k.p, " merge=\"p.bin\""),
                             " cloneof=\"parent\" romof=\"parent\"") +
                        game("nes", rom("game.nes", k.nes_body)) + game("lynx", rom("game.lnx", k.lynx_image))));
}

TEST(RebuildRun, MergeModesAndHeadersChooseWhatEachArchiveHolds) {
  if (!has_tools("unzip")) GTEST_SKIP() << "unzip missing";
  struct Case {
    const char* merge;
    const char* lines;
    const char* clone_entries;
  };
  const Case cases[] = {
      {"nonmerged",
       "wrote out/whole.zip (2 of 2)\nwrote out/parent.zip (1 of 1)\nwrote out/clone.zip (2 of 2)\n"
       "wrote out/nes.zip (1 of 1)\nwrote out/lynx.zip (1 of 1)\nrebuild: 5 written, 0 kept, 0 not written\n",
       "c.bin\np.bin\n"},
      {"split",
       "wrote out/whole.zip (2 of 2)\nwrote out/parent.zip (1 of 1)\nwrote out/clone.zip (1 of 1)\n"
       "wrote out/nes.zip (1 of 1)\nwrote out/lynx.zip (1 of 1)\nrebuild: 5 written, 0 kept, 0 not written\n",
       "c.bin\n"},
  };
  for (const Case& each : cases) {
    SCOPED_TRACE(each.merge);
    Collection k;
    build_collection(k);
    const RunResult run = run_imgchk({"--dat", "k.dat", "--rebuild", "out", "--merge", each.merge, "c"}, k.tree.path);
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(run.status, 0);
    const size_t tail = run.out.find("wrote ");
    ASSERT_NE(tail, std::string::npos) << run.out;
    EXPECT_EQ(run.out.substr(tail), each.lines);
    EXPECT_EQ(run_program("unzip", {"-Z1", "out/clone.zip"}, k.tree.path).out, each.clone_entries);
    EXPECT_EQ(run_program("unzip", {"-p", "out/nes.zip", "game.nes"}, k.tree.path).out, k.nes_body);
    EXPECT_EQ(run_program("unzip", {"-p", "out/lynx.zip", "game.lnx"}, k.tree.path).out, k.lynx_image);
    EXPECT_EQ(run_program("unzip", {"-p", "out/clone.zip", "c.bin"}, k.tree.path).out, k.c);
    EXPECT_EQ(run_program("unzip", {"-p", "out/clone.zip", "p.bin"}, k.tree.path).out,
              std::string(each.merge) == "split" ? "" : k.p);
    // The second run keeps all of them.
    const RunResult again = run_imgchk({"--dat", "k.dat", "--rebuild", "out", "--merge", each.merge, "c"}, k.tree.path);
    EXPECT_NE(again.out.find("rebuild: 0 written, 5 kept, 0 not written\n"), std::string::npos) << again.out;
  }
}

// Files already in the output folder: an archive of the right ROMs in
// another form is rewritten; one holding an image the set does not is
// refused, or with --backup moved aside (never over an earlier backup);
// a file that is no set is left alone and reported unknown.
TEST(RebuildRun, ExistingFilesAreRewrittenRefusedOrBackedUp) {
  Collection k;
  build_collection(k);
  const std::string plain = build_zip(zip_of({deflated_entry("w2.bin", k.w2), stored_entry("w1.bin", k.w1)}));
  const std::string mixed = build_zip(zip_of({stored_entry("p.bin", k.p), stored_entry("stray.bin", k.stray)}));
  k.tree.write("out/whole.zip", plain);
  k.tree.write("out/parent.zip", mixed);
  k.tree.write("out/notes.txt", k.stray);
  const FileState notes = state_of(k.tree.at("out/notes.txt"));
  const std::vector<std::string> args = {"-j2", "--dat", "k.dat", "--rebuild", "out/", "c"};
  const RunResult refused = run_imgchk(args, k.tree.path);
  EXPECT_EQ(refused.err,
            "imgchk: not replacing out/parent.zip: it holds images the set does not (give --backup DIR)\n");
  // Every set was in place already, out/parent.zip too, though it holds an
  // unknown image and was not replaced.
  EXPECT_EQ(refused.status, 0);
  const size_t tail = refused.out.find("unknown ");
  ASSERT_NE(tail, std::string::npos) << refused.out;
  EXPECT_EQ(
      refused.out.substr(tail),
      "unknown out/notes.txt\n"
      "unknown out/parent.zip?stray.bin\n"
      "5 sets: 5 complete, 0 partial, 0 missing; 7 of 7 ROMs in place, 0 elsewhere; 2 unknown images; 0 unreadable\n"
      "wrote out/whole.zip (2 of 2)\n"
      "wrote out/clone.zip (2 of 2)\n"
      "wrote out/nes.zip (1 of 1)\n"
      "wrote out/lynx.zip (1 of 1)\n"
      "rebuild: 4 written, 0 kept, 1 not written\n");
  EXPECT_EQ(read_file(k.tree.at("out/parent.zip")), mixed);
  EXPECT_NE(read_file(k.tree.at("out/whole.zip")), plain);
  expect_untouched(notes, k.tree.at("out/notes.txt"));

  std::vector<std::string> json = args;
  json.insert(json.begin(), "--json");
  const RunResult as_json = run_imgchk(json, k.tree.path);
  EXPECT_NE(
      as_json.out.find("{\"type\":\"rebuild\",\"set\":\"whole\",\"file\":\"out/whole.zip\",\"action\":\"kept\","
                       "\"have\":2,\"roms\":2}\n{\"type\":\"rebuild\",\"set\":\"parent\",\"file\":\"out/parent.zip\","
                       "\"action\":\"not-written\",\"have\":1,\"roms\":1,\"reason\":\"foreign-images\"}\n"),
      std::string::npos)
      << as_json.out;
  EXPECT_EQ(as_json.err, refused.err);

  // The same refused set with --backup: moved there, and a later one
  // beside it.
  k.tree.write("bak/parent.zip", "an earlier backup");
  std::vector<std::string> with_backup = args;
  with_backup.insert(with_backup.begin(), {"--backup", "bak"});
  const RunResult moved = run_imgchk(with_backup, k.tree.path);
  EXPECT_EQ(moved.err, "");
  // Every set written or kept: nothing lacks in the output folder now.
  EXPECT_EQ(moved.status, 0);
  EXPECT_NE(moved.out.find("kept out/whole.zip\nwrote out/parent.zip (1 of 1)\nkept out/clone.zip\n"),
            std::string::npos)
      << moved.out;
  EXPECT_EQ(read_file(k.tree.at("bak/parent.zip")), "an earlier backup");
  EXPECT_EQ(read_file(k.tree.at("bak/parent.zip.1")), mixed);
  EXPECT_EQ(files_named(k.tree, "*.imgchk-tmp-*"), "");
  expect_untouched(notes, k.tree.at("out/notes.txt"));
  // Nothing outside the output folder changed.
  EXPECT_EQ(read_file(k.tree.at("c/game.nes")), k.nes_image);
}

// --dry-run writes nothing, not even the folder; --rebuild-as dir writes
// plain files, kept on the next run.
TEST(RebuildRun, DryRunWritesNothingAndFoldersHoldPlainFiles) {
  Collection k;
  build_collection(k);
  const RunResult dry =
      run_imgchk({"--dat", "k.dat", "--rebuild", "out", "--dry-run", "--complete-only", "c"}, k.tree.path);
  EXPECT_EQ(dry.err, "");
  const size_t tail = dry.out.find("would ");
  ASSERT_NE(tail, std::string::npos) << dry.out;
  EXPECT_EQ(dry.out.substr(tail),
            "would write out/whole.zip (2 of 2)\nwould write out/parent.zip (1 of 1)\n"
            "would write out/clone.zip (2 of 2)\nwould write out/nes.zip (1 of 1)\n"
            "would write out/lynx.zip (1 of 1)\nrebuild: 5 written, 0 kept, 0 not written\n");
  struct stat status {};
  EXPECT_NE(stat(k.tree.at("out").c_str(), &status), 0);

  for (int round = 0; round < 2; ++round) {
    const RunResult run = run_imgchk({"--dat", "k.dat", "--rebuild", "out", "--rebuild-as", "dir", "c"}, k.tree.path);
    EXPECT_EQ(run.err, "");
    const std::string word = round == 0 ? "wrote out/" : "kept out/";
    const std::string counts = round == 0 ? " (1 of 1)" : "";
    EXPECT_NE(run.out.find(word + "nes" + counts + "\n" + word + "lynx" + counts + "\n"), std::string::npos) << run.out;
  }
  EXPECT_EQ(read_file(k.tree.at("out/whole/w2.bin")), k.w2);
  EXPECT_EQ(read_file(k.tree.at("out/clone/p.bin")), k.p);
  EXPECT_EQ(read_file(k.tree.at("out/nes/game.nes")), k.nes_body);
}

struct UsageCase {
  std::vector<std::string> args;
  const char* err;
};

TEST(RebuildRun, OptionsOutOfPlaceAreUsageErrors) {
  const std::string usage = run_imgchk({}).err;
  const UsageCase cases[] = {
      {{"--rebuild", "out", "x"}, "imgchk: --rebuild needs --dat\n"},
      {{"--dat", "d.dat", "--merge", "split", "x"}, "imgchk: --merge needs --rebuild\n"},
      {{"--dat", "d.dat", "--dry-run", "--backup", "b", "x"}, "imgchk: --dry-run needs --rebuild\n"},
      {{"--dat", "d.dat", "--rebuild", "o", "--merge", "full", "x"}, "imgchk: --merge needs nonmerged or split\n"},
      {{"--dat", "d.dat", "--rebuild", "o", "--rebuild-as=tar", "x"}, "imgchk: --rebuild-as needs zip or dir\n"},
      {{"--dat", "d.dat", "--rebuild"}, "imgchk: --rebuild needs a folder name\n"},
      // The first option that needs --rebuild is named; a refused or
      // missing value, in either form, says what the option takes.
      {{"--dat", "d.dat", "--backup=b", "--dry-run", "--merge=split", "x"}, "imgchk: --backup needs --rebuild\n"},
      {{"--dat", "d.dat", "--rebuild=o", "--merge=", "x"}, "imgchk: --merge needs nonmerged or split\n"},
      {{"--dat", "d.dat", "--rebuild=o", "--merge", ""}, "imgchk: --merge needs nonmerged or split\n"},
      {{"--dat", "d.dat", "--rebuild", "o", "--rebuild-as"}, "imgchk: --rebuild-as needs zip or dir\n"},
      {{"--dat", "d.dat", "--rebuild", "o", "--backup=", "x"}, "imgchk: --backup needs a folder name\n"},
      {{"--dat", "d.dat", "--rebuild=", "x"}, "imgchk: --rebuild needs a folder name\n"},
  };
  for (const UsageCase& each : cases) {
    SCOPED_TRACE(each.err);
    const RunResult run = run_imgchk(each.args);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.err, each.err + usage);
    EXPECT_EQ(run.status, 1);
  }
}

// A full disk: the set's temporary file goes, the message names the set,
// no later set is started, and the exit status is 1. The same when it is
// the scratch files of ROMs read in one pass from a solid 7z that fill it.
TEST(RebuildRun, AFullDiskStopsTheRebuild) {
  Collection k;
  build_collection(k);
  const std::string s0 = random_bytes(3000, 50), s1 = random_bytes(2000, 51);
  k.tree.write("s/s0.bin", s0);
  k.tree.write("s/s1.bin", s1);
  if (has_tools("7zz")) run_in(k.tree, "cd s && 7zz a -bd -bso0 -ms=on ../solid/solid.7z s0.bin s1.bin");
  k.tree.write("solid.dat", datafile(game("solid", rom("s0.bin", s0) + rom("s1.bin", s1))));
  struct Case {
    const char* dat;
    const char* folder;
    const char* err;
    const char* zips;
  };
  const Case cases[] = {
      {"k.dat", "c", "imgchk: cannot write out/whole.zip: No space left on device\n",
       "./c/parent.zip\n./c/whole.zip\n"},
      {"solid.dat", "solid", "imgchk: cannot write out/solid.zip: No space left on device\n",
       "./c/parent.zip\n./c/whole.zip\n"},
  };
  for (const Case& each : cases) {
    SCOPED_TRACE(each.dat);
    if (!exists_at(k.tree.at(each.folder))) GTEST_SKIP() << "7zz missing";
    const RunResult run =
        run_program(imgchk_test_hooks_path(), {"-j1", "--dat", each.dat, "--rebuild", "out", each.folder}, k.tree.path,
                    "", {"IMGCHK_TEST_FILE_SIZE_LIMIT=150"});
    EXPECT_EQ(run.err, each.err);
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.out.find("\nrebuild: 0 written, 0 kept, 1 not written\n"), std::string::npos) << run.out;
    EXPECT_EQ(files_named(k.tree, "*.zip"), each.zips);
    EXPECT_EQ(files_named(k.tree, ".imgchk-tmp-*"), "");
  }
}

// Starts `imgchk -j1 --dat k.dat --rebuild out c` in `tree`, paused before
// it writes set `set`, and returns once it has paused (or ended, with its
// status in `exited`). With `until_gone` it goes on when `ready` is
// removed; otherwise it waits to be killed. Standard error stays the
// test's when `err` is null.
pid_t start_paused_rebuild(const TempDir& tree, const char* set, const std::string& ready, bool until_gone,
                           const char* out, const char* err, int& exited) {
  const pid_t child = fork();
  if (child != 0) {
    struct stat status {};
    while (child > 0 && stat(ready.c_str(), &status) != 0 && waitpid(child, &exited, WNOHANG) == 0) usleep(1000);
    return child;
  }
  setenv("IMGCHK_TEST_PAUSE_REBUILD_SET", set, 1);
  setenv("IMGCHK_TEST_PAUSE_READY_FILE", ready.c_str(), 1);
  if (until_gone) setenv("IMGCHK_TEST_PAUSE_UNTIL_GONE", "1", 1);
  if (chdir(tree.path.c_str()) != 0) _exit(127);
  if (freopen(out, "w", stdout) == nullptr) _exit(127);
  if (err != nullptr && freopen(err, "w", stderr) == nullptr) _exit(127);
  execl(imgchk_test_hooks_path(), "imgchk", "-j1", "--dat", "k.dat", "--rebuild", "out", "c",
        static_cast<char*>(nullptr));
  _exit(127);
}

// Killed while a set is half written: no file under the set's name, and
// the next run clears what was left and writes it.
TEST(RebuildRun, AKilledRunLeavesNoPartialSetAndTheNextOneFinishes) {
  Collection k;
  build_collection(k);
  const std::string ready = k.tree.at("paused");
  int exited = 0;
  const pid_t child = start_paused_rebuild(k.tree, "clone", ready, false, "/dev/null", nullptr, exited);
  ASSERT_GE(child, 0);
  kill(child, SIGKILL);
  waitpid(child, &exited, 0);
  ASSERT_TRUE(WIFSIGNALED(exited));
  EXPECT_EQ(files_named(k.tree, "clone.zip"), "");
  EXPECT_NE(files_named(k.tree, ".imgchk-tmp-*"), "");
  const RunResult after = run_imgchk({"--dat", "k.dat", "--rebuild", "out", "c"}, k.tree.path);
  EXPECT_EQ(after.err, "");
  EXPECT_EQ(after.out.find("\nunknown "), std::string::npos) << after.out;
  EXPECT_NE(after.out.find("kept out/parent.zip\nwrote out/clone.zip (2 of 2)\n"), std::string::npos) << after.out;
  EXPECT_EQ(files_named(k.tree, ".imgchk-tmp-*"), "");
}

// A source changed in the middle of the run, after the walk read it and
// before the rebuild reads it again (in place: the same file, so it is
// trusted and read): its set goes into no archive, the message names the
// image, and the other sets are written.
TEST(RebuildRun, ASourceChangedDuringTheRunGoesIntoNoArchive) {
  if (!has_tools("7zz")) GTEST_SKIP() << "7zz missing";
  TempDir tree;
  const std::string first = random_bytes(900, 40), loose = random_bytes(500, 41), member = random_bytes(600, 42);
  const std::string s0 = random_bytes(4000, 43) + std::string(4000, '\0'), s1 = random_bytes(700, 44);
  std::string flipped = loose;
  flipped[77] ^= 1;
  tree.write("c/first.bin", first);
  tree.write("c/loose.bin", loose);
  tree.write("c/member.zip", build_zip(zip_of({deflated_entry("m.bin", member)})));
  tree.write("s/s0.bin", s0);
  tree.write("s/s1.bin", s1);
  run_in(tree, "cd s && 7zz a -bd -bso0 -ms=on ../c/solid.7z s0.bin s1.bin && mkdir ../later");
  tree.write("s/s1.bin", s1.substr(1) + "x");
  run_in(tree, "cd s && 7zz a -bd -bso0 -ms=on ../later/solid.7z s0.bin s1.bin");
  tree.write("k.dat",
             datafile(game("first", rom("first.bin", first)) + game("loose", rom("loose.bin", loose)) +
                      game("member", rom("m.bin", member)) + game("solid", rom("s0.bin", s0) + rom("s1.bin", s1))));
  struct Change {
    const char* file;
    std::string bytes;  // written over it, in place
  };
  const Change changes[] = {
      {"c/loose.bin", flipped},
      {"c/member.zip", build_zip(zip_of({deflated_entry("m.bin", member + "longer")}))},
      {"c/solid.7z", read_file(tree.at("later/solid.7z"))},
  };
  const std::string ready = tree.at("paused"), err = tree.at("err.txt"), out_file = err + ".out";
  int exited = 0;
  const pid_t child = start_paused_rebuild(tree, "first", ready, true, out_file.c_str(), err.c_str(), exited);
  ASSERT_GE(child, 0);
  for (const Change& change : changes) tree.write(change.file, change.bytes);
  unlink(ready.c_str());
  waitpid(child, &exited, 0);
  ASSERT_TRUE(WIFEXITED(exited));
  EXPECT_EQ(WEXITSTATUS(exited), 2) << read_file(out_file);  // the unwritten sets still lack their place
  const std::string out = read_file(out_file);
  EXPECT_NE(out.find("\nwrote out/first.zip (1 of 1)\nrebuild: 1 written, 0 kept, 3 not written\n"), std::string::npos)
      << out;
  EXPECT_EQ(read_file(err),
            "imgchk: not writing out/loose.zip: c/loose.bin changed since it was read\n"
            "imgchk: not writing out/member.zip: c/member.zip?m.bin changed since it was read\n"
            "imgchk: not writing out/solid.zip: c/solid.7z?s1.bin changed since it was read\n");
  EXPECT_EQ(files_named(tree, "*.zip"), "./c/member.zip\n./out/first.zip\n");
  EXPECT_EQ(files_named(tree, ".imgchk-tmp-*"), "");
}

}  // namespace
