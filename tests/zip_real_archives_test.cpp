// Archives written by real zip tools on this machine: every entry gives the
// bytes the tool was given, or fails when its method or encryption is one
// we don't unpack. Skipped where a tool is missing.
#include <gtest/gtest.h>

#include <map>
#include <string>

#include "support/opened_zip.h"
#include "support/run_imgchk.h"
#include "support/temp_dir.h"
#include "support/test_bytes.h"
#include "zip/zip_entry.h"

namespace {

bool has_tool(const char* name) {
  return run_program("sh", {"-c", std::string("command -v ") + name}).status == 0;
}

void run_in(const TempDir& dir, const std::string& command) {
  const RunResult result = run_program("sh", {"-c", command}, dir.path);
  ASSERT_EQ(result.status, 0) << command << "\n" << result.err;
}

constexpr const char* python_writer = R"(
import sys, zipfile
def write(target, method, **options):
    with zipfile.ZipFile(target, 'w', method) as z:
        for name in ('small.txt', 'random.bin', 'zeros.bin', 'sub/inner.txt'):
            if options.get('force_zip64'):
                with open(name, 'rb') as f, z.open(name, 'w', force_zip64=True) as out:
                    out.write(f.read())
            else:
                z.write(name)
if sys.argv[1] == 'pipe':
    write(sys.stdout.buffer, zipfile.ZIP_DEFLATED)
else:
    write('py-stored.zip', zipfile.ZIP_STORED)
    write('py-deflated.zip', zipfile.ZIP_DEFLATED)
    write('py-bzip2.zip', zipfile.ZIP_BZIP2)
    write('py-lzma.zip', zipfile.ZIP_LZMA)
    write('py-zip64.zip', zipfile.ZIP_DEFLATED, force_zip64=True)
)";

}  // namespace

TEST(ZipRealArchives, GiveTheBytesTheToolsWereGiven) {
  if (!has_tool("zip") || !has_tool("python3") || !has_tool("bsdtar")) GTEST_SKIP() << "zip tools missing";
  const TempDir dir;
  const std::map<std::string, std::string> files = {
      {"small.txt", "hello, world\n"},
      {"random.bin", random_bytes(70000, 7)},
      {"zeros.bin", std::string(300000, '\0')},
      {"sub/inner.txt", "inside a folder\n"},
  };
  for (const auto& [name, bytes] : files) dir.write(name, bytes);
  const std::string all = "small.txt random.bin zeros.bin sub";
  run_in(dir, "zip -q -r -0 zip-stored.zip " + all);
  run_in(dir, "zip -q -r zip-deflated.zip " + all);
  run_in(dir, "zip -q -r -fz zip-zip64.zip " + all);
  run_in(dir, "zip -q -r -P secret zip-encrypted.zip " + all);
  run_in(dir, "printf 'made by zip\\n' | zip -q -r -z zip-comment.zip " + all);
  run_in(dir, "zip -q - - < random.bin > zip-streamed.zip");
  run_in(dir, "bsdtar -a -cf bsdtar.zip " + all);
  dir.write("writer.py", python_writer);
  run_in(dir, "python3 writer.py files");
  run_in(dir, "python3 writer.py pipe | cat > py-piped.zip");

  struct Case {
    const char* archive;
    bool unpacks;  // false: every file entry must fail (encryption, method)
    size_t files;  // file entries expected
  };
  const Case cases[] = {
      {"zip-stored.zip", true, 4},     {"zip-deflated.zip", true, 4}, {"zip-zip64.zip", true, 4},
      {"zip-encrypted.zip", false, 4}, {"zip-comment.zip", true, 4},  {"zip-streamed.zip", true, 1},
      {"bsdtar.zip", true, 4},         {"py-stored.zip", true, 4},    {"py-deflated.zip", true, 4},
      {"py-bzip2.zip", true, 4},       {"py-lzma.zip", true, 4},      {"py-zip64.zip", true, 4},
      {"py-piped.zip", true, 4},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.archive);
    OpenedZipFile zip(dir.at(c.archive));
    ASSERT_TRUE(zip.is_open);
    size_t file_entries = 0;
    for (uint32_t i = 0; i < zip_entry_count(zip.archive.reader); ++i) {
      ZipEntryStat stat{};
      ASSERT_TRUE(zip_stat_entry(zip.archive.reader, i, stat));
      if (zip_entry_is_directory(zip.archive.reader, i)) continue;
      ++file_entries;
      const std::string name = stat.name == std::string("-") ? "random.bin" : stat.name;
      SCOPED_TRACE(name);
      ASSERT_EQ(files.count(name), 1u);
      EXPECT_EQ(extract_entry(zip.archive, i), c.unpacks ? std::optional(files.at(name)) : std::nullopt);
    }
    EXPECT_EQ(file_entries, c.files);
  }
  OpenedZipFile commented(dir.at("zip-comment.zip"));
  ASSERT_TRUE(commented.is_open);
  EXPECT_EQ(kept_comment(commented.archive), "made by zip");
}
