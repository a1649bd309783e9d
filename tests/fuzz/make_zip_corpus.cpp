// Writes the fuzz target's seed corpus: small archives, sound and broken,
// that reach every part of the reader. Usage: make_zip_corpus DIRECTORY
// (the committed corpus is tests/fuzz/corpus; findings are added beside).
#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "support/seed_corpus.h"
#include "support/test_bytes.h"
#include "support/zip_builder.h"

namespace {

// What the fuzzer may read at once (make fuzz's -max_len).
constexpr size_t max_input_size = 128 * 1024;

// A zip64 archive of 70,000 entries, past what 16-bit counts hold, sharing
// one local header; its directory is cut to what fits the fuzzer's input
// size, the end records stating the size that is left and still 70,000
// entries, so that a mutated count reaches the directory walk.
std::string long_directory_cut_to_size() {
  constexpr size_t entries = 70000;
  ZipPlan plan = zip_of({stored_entry("a", "x")});
  plan.zip64 = true;
  for (size_t i = 1; i < entries; ++i) {
    plan.entries.push_back(stored_entry("a", "x"));
    plan.entries.back().shares_local_header_of = 0;
  }
  const ZipLayout full = build_zip_layout(plan);
  const uint64_t end_records_size = full.bytes.size() - *full.zip64_end_record_offset;
  const uint64_t record_size = full.central_record_offsets[1] - full.central_record_offsets[0];
  const uint64_t kept_records = (max_input_size - full.central_directory_offset - end_records_size) / record_size;
  const uint64_t kept_directory_size = kept_records * record_size;
  std::string out = full.bytes.substr(0, full.central_directory_offset + kept_directory_size);
  std::string end_records = full.bytes.substr(*full.zip64_end_record_offset);
  put_u64(end_records, zip_field::zip64_directory_size, kept_directory_size);
  put_u64(end_records, 56 + zip_field::locator_record_offset, out.size());
  return out + end_records;
}

Seeds seeds() {
  Seeds out;
  auto add = [&out](const char* name, const ZipPlan& plan) { out.emplace_back(name, build_zip(plan)); };

  out.emplace_back("empty-archive", bare_end_record());
  add("stored", zip_of({stored_entry("a.bin", text_bytes(100))}));
  add("deflated", zip_of({deflated_entry("a.bin", text_bytes(2000))}));
  ZipPlan mixed =
      zip_of({stored_entry("a.bin", "alpha"), deflated_entry("sub/b.bin", text_bytes(700)), stored_entry("sub/", "")});
  mixed.comment = "a comment";
  add("mixed-with-comment", mixed);

  ZipPlan zip64 = zip_of({deflated_entry("a.bin", text_bytes(300)), stored_entry("b.bin", "bravo")});
  zip64.zip64 = true;
  zip64.entries[0].zip64 = true;
  add("zip64", zip64);
  ZipPlan zip64_short = zip64;
  zip64_short.entries[1].zip64 = true;
  zip64_short.entries[1].zip64_extra_size = 16;
  add("zip64-extra-too-short", zip64_short);

  ZipPlan descriptor = zip_of({deflated_entry("-", text_bytes(500)), stored_entry("b", "bravo")});
  descriptor.entries[0].data_descriptor = true;
  descriptor.entries[1].data_descriptor = true;
  add("data-descriptor", descriptor);

  ZipPlan shared = zip_of({deflated_entry("a", text_bytes(400)), deflated_entry("b", text_bytes(400)),
                           deflated_entry("c", text_bytes(400))});
  shared.entries[1].shares_local_header_of = 0;
  shared.entries[2].shares_local_header_of = 0;
  add("shared-local-header", shared);

  ZipPlan overlap = zip_of({stored_entry("a", text_bytes(50)), stored_entry("b", text_bytes(50))});
  overlap.entries[0].compressed_size = 90;
  overlap.entries[0].uncompressed_size = 90;
  add("data-runs-into-next-header", overlap);

  ZipPlan signature = zip_of({stored_entry("a", "x")});
  signature.comment = std::string("PK\x05\x06", 4) + std::string(18, '\0');
  add("signature-in-comment", signature);
  ZipPlan long_comment = zip_of({stored_entry("a", "x")});
  long_comment.comment = text_bytes(600);
  add("comment-600", long_comment);
  ZipPlan lying_comment = zip_of({stored_entry("a", "x")});
  lying_comment.comment = "abcd";
  lying_comment.comment_size = 10;
  add("comment-size-lies", lying_comment);
  ZipPlan small_long_comment = zip_of({stored_entry("a", "x")});
  small_long_comment.comment = text_bytes(4900);
  add("small-archive-long-comment", small_long_comment);

  ZipPlan prefixed = zip_of({deflated_entry("a", text_bytes(100))});
  prefixed.prefix = "#!/bin/sh\nexit 0\n";
  add("prefix-counted", prefixed);
  prefixed.offsets_count_prefix = false;
  add("prefix-not-counted", prefixed);

  ZipPlan refused = zip_of({stored_entry("encrypted", "x"), stored_entry("bzip2", "BZh9"), stored_entry("lzma", "lzma"),
                            stored_entry("bad-crc", "crc")});
  refused.entries[0].flags = 1;
  refused.entries[1].method = 12;
  refused.entries[2].method = 14;
  refused.entries[3].crc32 = 0;
  add("refused-entries", refused);

  ZipPlan lies = zip_of({stored_entry("sizes-differ", "abc"), deflated_entry("no-data", ""),
                         deflated_entry("too-large", text_bytes(100))});
  lies.entries[0].uncompressed_size = 4;
  lies.entries[1].uncompressed_size = 5;
  lies.entries[2].uncompressed_size = 1u << 30;
  add("size-lies", lies);

  ZipPlan directories = zip_of({stored_entry("d/", ""), stored_entry("attr", "")});
  directories.entries[1].external_attributes = 0x10;
  add("directories", directories);

  ZipPlan names = zip_of({stored_entry(std::string(600, 'n'), "long"), stored_entry("x.bin", "lower"),
                          stored_entry("X.BIN", "upper"), stored_entry("x.bin", "again")});
  add("names", names);

  ZipPlan local_differs = zip_of({deflated_entry("a", text_bytes(200))});
  local_differs.entries[0].local_name = "a-longer-local-name";
  local_differs.entries[0].local_extra = std::string("UT\x05\x00\x01\x00\x00\x00\x00", 9);
  add("local-header-differs", local_differs);

  ZipPlan empties = zip_of({stored_entry("empty-stored", ""), deflated_entry("empty-deflated", "")});
  add("empty-entries", empties);

  ZipPlan zeros = zip_of({deflated_entry("zeros", std::string(200000, '\0'))});
  add("deflated-zeros", zeros);

  const std::string inner = build_zip(zip_of({deflated_entry("c.bin", text_bytes(300))}));
  add("nested", zip_of({stored_entry("inner.zip", inner), deflated_entry("deflated.zip", inner)}));

  ZipPlan extra_blocks = zip_of({stored_entry("a", text_bytes(40))});
  extra_blocks.entries[0].compressed_size = 0xFFFFFFFF;
  std::string zip64_block("\x01\x00\x08\x00", 4);
  for (int i = 0; i < 8; ++i) zip64_block.push_back(static_cast<char>(i == 0 ? 40 : 0));
  extra_blocks.entries[0].central_extra = std::string("UT\x01\x00\x01", 5) + zip64_block;
  add("zip64-block-after-another", extra_blocks);

  out.emplace_back("central-directory-70000-cut", long_directory_cut_to_size());
  return out;
}

}  // namespace

int main(int argc, char** argv) {
  return write_seed_corpus(argc, argv, seeds());
}
