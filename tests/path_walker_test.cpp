// The path walker, run in-process: what it catalogues and what it reports.
#include "walk/path_walker.h"
#include "walk/test_seams.h"

#include <dirent.h>
#include <fcntl.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <libdeflate.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "cache/file_cache.h"
#include "catalogue/rom_entry.h"
#include "catalogue/run_mode.h"
#include "jobs/commit_consumer.h"
#include "jobs/image_jobs.h"
#include "report/walk_reporting.h"
#include "support/capture_stdout.h"
#include "support/run_imgchk.h"
#include "support/temp_dir.h"
#include "support/zip_builder.h"
#include "walk/reopen_image.h"
#include "walk/walk_output.h"

namespace {

std::string get_current_directory() {
  char buffer[4096];
  return getcwd(buffer, sizeof buffer) != nullptr ? buffer : ".";
}

struct Walk {
  std::vector<std::string> images;  // "name size crc", sorted
  std::string out;
  std::string err;
};

// What the last walk_here catalogued.
Catalogue g_walked;

void admit_walked(void* catalogue, const Provenance& origin, const ImageSummary& summary, bool admitted,
                  const AuditDigests* audit) {
  add_summarised_rom(*static_cast<Catalogue*>(catalogue), origin, summary, admitted, audit);
}

// Walks the paths in `mode` from the current directory and collects the catalogue.
Walk walk_here(RunMode mode, const std::vector<std::string>& paths) {
  g_walked = Catalogue{};
  SumPlan plan;
  plan.mode = mode;
  g_walk_observer = reporting_walk_observer(false);
  g_walk_output = job_ring_output(plan);
  clear_commit_consumers();
  // As the driver does: -pzc catalogues nothing.
  if (mode != RunMode::Pzc) {
    install_commit_consumer(CommitConsumer{&g_walked, admit_walked, nullptr, nullptr, nullptr, nullptr});
  }
  install_commit_consumer(observer_consumer());
  const CapturedOutput output = capture_output([&] {
    for (const std::string& path : paths) scan_path(path.c_str());
  });
  Walk result{{}, output.out, output.err};
  for (const RomEntry* entry = g_walked.newest; entry != nullptr; entry = entry->next) {
    char line[64];
    std::snprintf(line, sizeof line, " %llu %08X", static_cast<unsigned long long>(entry->summary.size),
                  entry->summary.crc);
    result.images.push_back(display_name(entry->origin) + std::string(line));
  }
  std::sort(result.images.begin(), result.images.end());
  return result;
}

// The same from inside `cwd`.
Walk walk(RunMode mode, const std::vector<std::string>& paths, const std::string& cwd) {
  const std::string old_cwd = get_current_directory();
  EXPECT_EQ(chdir(cwd.c_str()), 0);
  Walk result = walk_here(mode, paths);
  EXPECT_EQ(chdir(old_cwd.c_str()), 0);
  return result;
}

// Runs `body` in a child process, as nobody when the tests run as root (who
// reads everything), and hands back what it returns, or why it failed. The
// test process keeps its identity and its working directory, which nobody
// may not be allowed to enter.
std::string run_in_unprivileged_child(const std::function<std::string()>& body) {
  int pipe_ends[2];
  if (pipe(pipe_ends) != 0) return "pipe failed";
  std::fflush(stdout);
  std::fflush(stderr);
  const pid_t child = fork();
  if (child < 0) return "fork failed";
  if (child == 0) {
    close(pipe_ends[0]);
    constexpr uid_t nobody = 65534;
    if (geteuid() == 0 && (setgroups(0, nullptr) != 0 || setgid(nobody) != 0 || setuid(nobody) != 0)) _exit(2);
    // Temporary files of the child go where nobody can write.
    setenv("TMPDIR", "/tmp", 1);
    const std::string result = body();
    for (size_t done = 0; done < result.size();) {
      const ssize_t written = write(pipe_ends[1], result.data() + done, result.size() - done);
      if (written <= 0) _exit(3);
      done += static_cast<size_t>(written);
    }
    _exit(0);
  }
  close(pipe_ends[1]);
  std::string result;
  char buffer[4096];
  for (ssize_t got; (got = read(pipe_ends[0], buffer, sizeof buffer)) != 0;) {
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) break;
    result.append(buffer, static_cast<size_t>(got));
  }
  close(pipe_ends[0]);
  int status = 0;
  while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
  }
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) return "child failed with status " + std::to_string(status);
  return result;
}

struct PathWalker : testing::Test {
  TempDir tree;
  void TearDown() override {
    g_walked = Catalogue{};
    g_walk_cache = WalkCacheHooks{};
  }
};

using Lines = std::vector<std::string>;

// Empties `directory_fd` of everything but directories.
void remove_files_in(int directory_fd) {
  DIR* directory = fdopendir(dup(directory_fd));
  ASSERT_NE(directory, nullptr);
  while (const dirent* entry = readdir(directory)) {
    if (entry->d_type != DT_DIR) unlinkat(directory_fd, entry->d_name, 0);
  }
  closedir(directory);
}

// Removes a chain of directories "d" under `top`, of any depth: each level's
// "d" is lifted up to `top` before the level is removed, so that no path
// grows long (the usual removal walks by path and stops at PATH_MAX).
void remove_deep_chain(const std::string& top) {
  const int top_fd = open(top.c_str(), O_RDONLY | O_DIRECTORY);
  ASSERT_GE(top_fd, 0);
  for (int level; (level = openat(top_fd, "d", O_RDONLY | O_DIRECTORY)) >= 0;) {
    const bool deeper = renameat(level, "d", top_fd, "next") == 0;
    remove_files_in(level);
    close(level);
    ASSERT_EQ(unlinkat(top_fd, "d", AT_REMOVEDIR), 0);
    if (deeper) {
      ASSERT_EQ(renameat(top_fd, "next", top_fd, "d"), 0);
    }
  }
  close(top_fd);
}

}  // namespace

TEST_F(PathWalker, WalksDirectoriesDepthFirstUnderJoinedNames) {
  tree.write("roms/a.bin", "abc");
  tree.write("roms/sub/deeper/b.rom", "123456789");
  tree.write("roms/sub/empty.bin", "");
  tree.make_dir("roms/nothing");
  tree.write("loose.bin", "abc");

  const Walk all = walk(RunMode::All, {"roms", "loose.bin", "roms/"}, tree.path);
  EXPECT_EQ(all.images, (Lines{"loose.bin 3 352441C2", "roms//a.bin 3 352441C2", "roms//sub/deeper/b.rom 9 CBF43926",
                               "roms//sub/empty.bin 0 00000000", "roms/a.bin 3 352441C2",
                               "roms/sub/deeper/b.rom 9 CBF43926", "roms/sub/empty.bin 0 00000000"}));
  EXPECT_EQ(all.err, "");
  EXPECT_EQ(all.out, "");
  EXPECT_EQ(g_walked.skipped, 0);

  const Walk m1 = walk(RunMode::M1, {"roms"}, tree.path);
  EXPECT_EQ(m1.images, Lines{});
  EXPECT_EQ(g_walked.skipped, 3);
}

TEST_F(PathWalker, ReportsWhatItCannotReadAndGoesOn) {
  tree.write("d/good.bin", "abc");
  tree.write("x.zip", "not an archive");
  tree.make_dir("d.zip");
  tree.write("d.zip/inside.bin", "abc");
  ASSERT_EQ(symlink("nowhere", tree.at("d/dangling").c_str()), 0);

  struct Case {
    RunMode mode;
    std::vector<std::string> paths;
    Lines images;
    std::string err;
  };
  const Case cases[] = {
      {RunMode::All, {"missing.bin"}, {}, "imgchk: error opening missing.bin\n"},
      {RunMode::Pzc, {"missing.bin"}, {}, ""},
      {RunMode::All, {""}, {}, "imgchk: error opening \n"},
      {RunMode::Pzc, {""}, {}, ""},
      {RunMode::All, {"d"}, {"d/good.bin 3 352441C2"}, "imgchk: error opening d/dangling\n"},
      {RunMode::Pzc, {"d"}, {}, ""},
      {RunMode::All, {"x.zip", "missing.zip"}, {}, "imgchk: error opening x.zip\nimgchk: error opening missing.zip\n"},
      {RunMode::Pzc, {"x.zip", "MISSING.ZIP"}, {}, "imgchk: error opening x.zip\nimgchk: error opening MISSING.ZIP\n"},
      // A directory is walked whatever its name says.
      {RunMode::All, {"d.zip"}, {"d.zip/inside.bin 3 352441C2"}, ""},
      {RunMode::Pzc, {"d.zip"}, {}, ""},
      {RunMode::All, {"d.zip/"}, {"d.zip//inside.bin 3 352441C2"}, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "mode " << static_cast<int>(c.mode) << " " << c.paths[0]);
    const Walk result = walk(c.mode, c.paths, tree.path);
    EXPECT_EQ(result.images, c.images);
    EXPECT_EQ(result.err, c.err);
    EXPECT_EQ(result.out, "");
  }
}

// A file replaced by a directory after its directory was read is walked as
// the directory it now is, though its directory entry said "plain file".
TEST_F(PathWalker, HandlesAPathByWhatItIsWhenOpened) {
  tree.write("d/f.bin", "123456789");
  static const TempDir* replaced_in = nullptr;
  replaced_in = &tree;
  g_before_opening_path = [](const char* path) {
    if (std::string(path) != "d/f.bin") return;
    ASSERT_EQ(unlink(replaced_in->at("d/f.bin").c_str()), 0);
    replaced_in->write("d/f.bin/g.bin", "abc");
  };
  const Walk result = walk(RunMode::All, {"d"}, tree.path);
  g_before_opening_path = nullptr;
  EXPECT_EQ(result.err, "");
  EXPECT_EQ(result.images, Lines{"d/f.bin/g.bin 3 352441C2"});
}

TEST_F(PathWalker, ReportsPermissionDeniedAndGoesOn) {
  // Under /tmp and open to all, so that nobody can reach it.
  const TempDir shared("/tmp");
  ASSERT_EQ(chmod(shared.path.c_str(), 0755), 0);
  shared.write("d/secret.bin", "xyz");
  shared.write("d/closed/hidden.bin", "abc");
  ASSERT_EQ(chmod(shared.at("d").c_str(), 0755), 0);
  ASSERT_EQ(chmod(shared.at("d/secret.bin").c_str(), 0), 0);
  ASSERT_EQ(chmod(shared.at("d/closed").c_str(), 0), 0);
  const std::string seen = run_in_unprivileged_child([&] {
    if (chdir(shared.path.c_str()) != 0) return std::string("cannot enter the tree");
    const std::vector<std::string> paths = {"d/secret.bin", "d/closed"};
    const Walk all = walk_here(RunMode::All, paths);
    const Walk pzc = walk_here(RunMode::Pzc, paths);
    return std::to_string(all.images.size()) + " images\n" + all.err + "pzc:\n" + pzc.err;
  });
  EXPECT_EQ(seen, "0 images\nimgchk: error opening d/secret.bin\nimgchk: error opening d/closed\npzc:\n");
}

TEST_F(PathWalker, ReportsSeekAndReadFailuresOfSpecialFiles) {
  ASSERT_EQ(mkfifo(tree.at("pipe").c_str(), 0600), 0);
  struct Case {
    RunMode mode;
    std::string path;
    std::string err;
  };
  std::vector<Case> cases = {
      // A named pipe must neither block the open nor the read.
      {RunMode::All, "pipe", "imgchk: seek error on pipe\n"},
      {RunMode::Pzc, "pipe", ""},
      {RunMode::All, "/proc/self/mem", "imgchk: seek error on /proc/self/mem\n"},
  };
  // sysfs files claim 4 KiB and deliver less: the read falls short.
  const char* short_file = "/sys/kernel/mm/transparent_hugepage/enabled";
  if (access(short_file, R_OK) == 0) {
    cases.push_back({RunMode::All, short_file, std::string("imgchk: read error on ") + short_file + "\n"});
  }
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path);
    const Walk result = walk(c.mode, {c.path}, tree.path);
    EXPECT_EQ(result.images, Lines{});
    EXPECT_EQ(result.err, c.err);
  }
}

TEST_F(PathWalker, StopsAtDirectoryLoopsButFollowsOtherLinks) {
  tree.write("top/a.bin", "abc");
  tree.write("top/other/b.bin", "123456789");
  ASSERT_EQ(symlink("..", tree.at("top/other/up").c_str()), 0);
  ASSERT_EQ(symlink(".", tree.at("top/self").c_str()), 0);
  tree.write("side/c.bin", "");
  ASSERT_EQ(symlink("../side", tree.at("top/to-side").c_str()), 0);

  for (const RunMode mode : {RunMode::All, RunMode::Pzc}) {
    SCOPED_TRACE(static_cast<int>(mode));
    const Walk result = walk(mode, {"top"}, tree.path);
    // Enumeration order is the file system's: compare the messages as a set.
    std::vector<std::string> messages;
    std::string rest = result.err;
    for (size_t end; (end = rest.find('\n')) != std::string::npos; rest.erase(0, end + 1)) {
      messages.push_back(rest.substr(0, end + 1));
    }
    std::sort(messages.begin(), messages.end());
    EXPECT_EQ(messages, (Lines{"imgchk: directory loop at top/other/up\n", "imgchk: directory loop at top/self\n"}));
    if (mode == RunMode::All) {
      EXPECT_EQ(result.images,
                (Lines{"top/a.bin 3 352441C2", "top/other/b.bin 9 CBF43926", "top/to-side/c.bin 0 00000000"}));
    }
  }
}

// Nothing of an image outlives its reading: a run whose images are many
// times its address space lists them all, files larger than it included.
// Sparse files: zeros, then three bytes, so a 32-bit position overflows.
TEST_F(PathWalker, ReadsImagesFarLargerThanItsAddressSpace) {
  struct Sparse {
    const char* name;
    uint64_t size;
  };
  const Sparse files[] = {
      {"big.bin", (2ull << 30) + 3}, {"m/a.bin", (200ull << 20) + 3}, {"m/b.bin", (201ull << 20) + 3}};
  std::vector<uint8_t> zeros(1 << 20, 0);
  std::string want_listing;
  for (const Sparse& file : files) {
    const std::string path = tree.write(file.name, "");
    std::ofstream out(path, std::ios::binary);
    out.seekp(static_cast<std::streamoff>(file.size - 3));
    out.write("abc", 3);
    uint32_t crc = 0;
    for (uint64_t done = 0; done < file.size - 3; done += zeros.size())
      crc = libdeflate_crc32(crc, zeros.data(), zeros.size());
    crc = libdeflate_crc32(crc, "abc", 3);
    char line[96];
    std::snprintf(line, sizeof line, "\n  %08X 0126 %6X %s\n", crc, static_cast<unsigned>(file.size), file.name);
    want_listing += line;
  }
  // The listing is sorted by CRC; compare it as a set of lines.
  const std::vector<std::string> args = {"big.bin", "m"};
#if IMGCHK_SANITIZED
  const RunResult result = run_imgchk(args, tree.path);  // the sanitizer reserves terabytes of address space
#else
  const RunResult result = run_imgchk_limited(args, tree.path, 256ull << 20);
#endif
  EXPECT_EQ(result.err, "");
  EXPECT_EQ(result.status, 0);
  const std::string summary = "\n3 ROMs, 3 unique, 0 duplicates, 0 unchecked\n";
  ASSERT_GE(result.out.size(), summary.size());
  EXPECT_EQ(result.out.substr(result.out.size() - summary.size()), summary);
  auto lines_of = [](const std::string& text) {
    std::vector<std::string> lines;
    size_t start = 0;
    for (size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1) {
      if (end > start) lines.push_back(text.substr(start, end - start));
    }
    std::sort(lines.begin(), lines.end());
    return lines;
  };
  std::vector<std::string> want = lines_of(want_listing);
  want.push_back("3 ROMs, 3 unique, 0 duplicates, 0 unchecked");
  std::sort(want.begin(), want.end());
  EXPECT_EQ(lines_of(result.out), want);
}

// With few files allowed open, a tree far deeper than that is walked whole,
// a link into another branch deep down included, and a link back up is
// still a loop. The tree is built and removed through descriptors, as its
// paths pass PATH_MAX.
TEST_F(PathWalker, WalksTreesDeeperThanTheLimitOnOpenFiles) {
  constexpr int depth = 5000;
  constexpr int link_level = 3000;
  constexpr int loop_level = 4000;
  tree.write("side/x.bin", "beside");
  tree.make_dir("deep");
  std::vector<std::string> wanted_names;
  std::string path = "deep";
  int level_fd = open(tree.at("deep").c_str(), O_RDONLY | O_DIRECTORY);
  ASSERT_GE(level_fd, 0);
  for (int level = 0; level <= depth; ++level) {
    // Where the link is, more files: whichever comes after the link is
    // opened once the walk is back from a directory whose ".." leads
    // elsewhere.
    for (int file_number = 0; file_number < (level == link_level ? 8 : 1); ++file_number) {
      if (level % 1000 != 0 && level != depth) break;
      std::string name = "f";
      name += std::to_string(level);
      if (file_number > 0) {
        name += '-';
        name += std::to_string(file_number);
      }
      name += ".bin";
      const int file = openat(level_fd, name.c_str(), O_WRONLY | O_CREAT, 0644);
      ASSERT_GE(file, 0);
      ASSERT_EQ(write(file, name.data(), name.size()), static_cast<ssize_t>(name.size()));
      close(file);
      wanted_names.push_back(path + "/" + name);
    }
    if (level == link_level) {
      ASSERT_EQ(symlinkat(tree.at("side").c_str(), level_fd, "link"), 0);
      wanted_names.push_back(path + "/link/x.bin");
    }
    if (level == loop_level) {
      ASSERT_EQ(symlinkat(tree.at("deep").c_str(), level_fd, "up"), 0);
    }
    if (level == depth) break;
    ASSERT_EQ(mkdirat(level_fd, "d", 0755), 0);
    const int below = openat(level_fd, "d", O_RDONLY | O_DIRECTORY);
    ASSERT_GE(below, 0);
    close(level_fd);
    level_fd = below;
    path += "/d";
  }
  close(level_fd);

  const RunResult result = run_imgchk_with_open_files({"deep"}, tree.path, 256);
  std::string loop_path = "deep";
  for (int level = 0; level < loop_level; ++level) loop_path += "/d";
  EXPECT_EQ(result.err, "imgchk: directory loop at " + loop_path + "/up\n");
  EXPECT_EQ(result.status, 0);
  const std::string count = std::to_string(wanted_names.size());
  const std::string summary = '\n' + count + " ROMs, " + count + " unique, 0 duplicates, 0 unchecked\n";
  EXPECT_NE(result.out.find(summary), std::string::npos) << result.out.substr(0, 300);
  for (const std::string& name : wanted_names) EXPECT_NE(result.out.find(" " + name + "\n"), std::string::npos);
  remove_deep_chain(tree.at("deep"));
}

namespace {

struct Streamed {
  uint32_t crc = 0;
  uint64_t size = 0;
  uint64_t stop_after = UINT64_MAX;  // pieces the sink takes before it says stop
};

bool take_piece(void* context, const uint8_t* bytes, size_t size) {
  auto& streamed = *static_cast<Streamed*>(context);
  if (streamed.stop_after-- == 0) return false;
  streamed.crc = libdeflate_crc32(streamed.crc, bytes, size);
  streamed.size += size;
  return true;
}

// Each catalogued image by its display name, opened again from the
// current directory.
std::vector<std::pair<std::string, ReopenOutcome>> reopen_all(bool check_bytes) {
  std::vector<std::pair<std::string, ReopenOutcome>> outcomes;
  for (const RomEntry* entry = g_walked.newest; entry != nullptr; entry = entry->next) {
    Streamed streamed;
    const ReopenOutcome outcome = stream_image_again(entry->origin, take_piece, &streamed);
    outcomes.emplace_back(display_name(entry->origin), outcome);
    if (!check_bytes || outcome != ReopenOutcome::Streamed) continue;
    EXPECT_EQ(streamed.size, entry->summary.size) << outcomes.back().first;
    EXPECT_EQ(streamed.crc, entry->summary.crc) << outcomes.back().first;
  }
  std::sort(outcomes.begin(), outcomes.end());
  return outcomes;
}

}  // namespace

// Loose, in zip, 7z, tar.gz and gzip, and in a zip inside a zip: each image
// found is opened again from its provenance with the same bytes, and only
// while its file and entries are still those the walk found.
TEST_F(PathWalker, OpensEveryImageAgainFromWhereItWasFound) {
  if (run_program("sh", {"-c", "command -v 7zz && command -v tar && command -v gzip"}).status != 0) {
    GTEST_SKIP() << "archive tools missing";
  }
  tree.write("r/a?.bin", "loose image\n");
  const std::string inner = build_zip(zip_of({deflated_entry("c.bin", std::string(5000, 'c'))}));
  tree.write("r/z.zip", build_zip(zip_of({stored_entry("b.bin", "b in zip\n"), stored_entry("in.zip", inner)})));
  tree.write("src/d.bin", "d in 7z\n");
  tree.write("src/e.bin", std::string(70000, 'e'));
  tree.write("f.bin", "f in gzip\n");
  const RunResult made = run_program("sh",
                                     {"-c",
                                      "7zz a -bd -bso0 r/s.7z ./src/d.bin && tar -czf r/t.tar.gz -C src e.bin && "
                                      "gzip -c f.bin > r/f.bin.gz && rm -r src f.bin"},
                                     tree.path);
  ASSERT_EQ(made.status, 0) << made.err;
  const std::string old_cwd = get_current_directory();
  ASSERT_EQ(chdir(tree.path.c_str()), 0);
  walk_here(RunMode::All, {"r"});
  using Outcomes = std::vector<std::pair<std::string, ReopenOutcome>>;
  const Outcomes all_streamed = {
      {"r/a?.bin", ReopenOutcome::Streamed},      {"r/f.bin.gz?f.bin", ReopenOutcome::Streamed},
      {"r/s.7z?d.bin", ReopenOutcome::Streamed},  {"r/t.tar.gz?e.bin", ReopenOutcome::Streamed},
      {"r/z.zip?b.bin", ReopenOutcome::Streamed}, {"r/z.zip?in.zip?c.bin", ReopenOutcome::Streamed}};
  EXPECT_EQ(reopen_all(true), all_streamed);
  // A sink that says stop stops the reading.
  for (const RomEntry* entry = g_walked.newest; entry != nullptr; entry = entry->next) {
    Streamed stopping;
    stopping.stop_after = 0;
    EXPECT_EQ(stream_image_again(entry->origin, take_piece, &stopping), ReopenOutcome::SinkStopped);
  }
  // The same file with other entries; another file under the name; no file.
  std::ofstream(tree.at("r/z.zip"), std::ios::binary | std::ios::trunc)
      << build_zip(zip_of({stored_entry("b2.bin", "b in zip\n"), stored_entry("in.zip", inner)}));
  tree.write("new", "loose image\n");
  ASSERT_EQ(rename("new", "r/a?.bin"), 0);
  ASSERT_EQ(unlink("r/s.7z"), 0);
  const Outcomes changed = {
      {"r/a?.bin", ReopenOutcome::OtherFile},         {"r/f.bin.gz?f.bin", ReopenOutcome::Streamed},
      {"r/s.7z?d.bin", ReopenOutcome::NotOpened},     {"r/t.tar.gz?e.bin", ReopenOutcome::Streamed},
      {"r/z.zip?b.bin", ReopenOutcome::EntryChanged}, {"r/z.zip?in.zip?c.bin", ReopenOutcome::Streamed}};
  EXPECT_EQ(reopen_all(false), changed);
  ASSERT_EQ(chdir(old_cwd.c_str()), 0);
}

namespace {

// What the walk handed to its output and asked of the cache, in order, with
// neither the job ring nor the cache behind them.
std::vector<std::string> g_handed;

void hand(const std::string& what, const Provenance& origin) {
  g_handed.push_back(what + " " + display_name(origin));
}

WalkOutput recording_output() {
  WalkOutput output{};
  output.file_image = [](const Provenance& origin, int fd, uint64_t /*size*/, CacheUnitHandle unit) {
    close(fd);
    hand(unit ? "file+unit" : "file", origin);
  };
  output.entry_image = [](const Provenance& origin, const std::shared_ptr<OpenArchive>& /*archive*/,
                          const ZipExtraction& /*extraction*/) { hand("entry", origin); };
  output.ordered_walk = [](const Provenance& origin, int fd, uint64_t /*size*/, ArchiveKind /*kind*/,
                           OrderedWalk /*walk*/) {
    close(fd);
    hand("ordered", origin);
  };
  output.comment = [](const Provenance& archive, const char* /*comment*/) { hand("comment", archive); };
  output.failure = [](const WalkFailure& failure) { hand("failure", *failure.origin); };
  output.file_start = [](const Provenance& file, CacheUnitHandle unit) { hand(unit ? "start+unit" : "start", file); };
  output.file_end = [] { g_handed.emplace_back("end"); };
  return output;
}

// A cache that knows every file named "cached.bin", and replays it as one
// summarised image.
WalkCacheHooks knowing_cache() {
  WalkCacheHooks hooks{};
  hooks.is_on = [] { return true; };
  hooks.replay_if_cached = [](int /*directory_fd*/, const char* /*name*/, const uint64_t* /*directory_device*/,
                              const char* path, CacheUnitHandle& /*looked_up*/) {
    const Provenance origin = provenance_of_name(path);
    hand("lookup", origin);
    if (std::string(path).find("cached.bin") == std::string::npos) return false;
    hand("replayed", origin);
    return true;
  };
  hooks.unit_of_opened = [](CacheUnitHandle /*looked_up*/, const OpenedFile& /*opened*/) { return new_cache_unit(); };
  return hooks;
}

}  // namespace

TEST_F(PathWalker, HandsWhatItFindsToItsOutputAndAsksTheCacheFirst) {
  tree.write("r/a.bin", "abc");
  tree.write("r/cached.bin", "abc");
  tree.write("r/z.zip", build_zip(zip_of({stored_entry("b.bin", "b in zip\n")})));
  tree.write("r/s.7z", "not read here");
  struct Case {
    RunMode mode;
    bool cache;
    Lines handed;
    uint64_t opened;
  };
  const Case cases[] = {
      {RunMode::All,
       false,
       {"file r/a.bin", "file r/cached.bin", "entry r/z.zip?b.bin", "ordered r/s.7z", "failure r/missing.bin"},
       4},
      {RunMode::All,
       true,
       {"lookup r/a.bin", "file+unit r/a.bin", "lookup r/cached.bin", "replayed r/cached.bin", "lookup r/z.zip",
        "start+unit r/z.zip", "entry r/z.zip?b.bin", "end", "lookup r/s.7z", "start+unit r/s.7z", "ordered r/s.7z",
        "end", "lookup r/missing.bin", "failure r/missing.bin"},
       3},
      // -pzc reads only archives, and reports no plain file it cannot open;
      // a named one is still opened, to see whether it is a folder.
      {RunMode::Pzc,
       true,
       {"lookup r/z.zip", "start+unit r/z.zip", "end", "lookup r/s.7z", "start+unit r/s.7z", "ordered r/s.7z", "end"},
       4},
  };
  const std::string old_cwd = get_current_directory();
  ASSERT_EQ(chdir(tree.path.c_str()), 0);
  for (const Case& c : cases) {
    g_walk_output = recording_output();
    g_walk_output.plan.mode = c.mode;
    g_walk_cache = c.cache ? knowing_cache() : WalkCacheHooks{};
    g_handed.clear();
    const uint64_t opened_before = g_files_opened;
    for (const char* path : {"r/a.bin", "r/cached.bin", "r/z.zip", "r/s.7z", "r/missing.bin"}) scan_path(path);
    EXPECT_EQ(g_handed, c.handed) << static_cast<int>(c.mode) << " cache " << c.cache;
    EXPECT_EQ(g_files_opened - opened_before, c.opened);
  }
  ASSERT_EQ(chdir(old_cwd.c_str()), 0);
}
