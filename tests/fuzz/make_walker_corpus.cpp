// Writes the archive walker fuzz target's seeds: archives whose entries use
// every compression method, nested archives, images of the sizes -m1 and
// -m2 admit, and comments whose last byte picks each mode. Usage:
// make_walker_corpus DIRECTORY (the committed seeds are in
// tests/fuzz/corpus-walker, with those of make_archive_seeds.sh; findings
// are added beside).
#include <bzlib.h>
#include <lzma.h>
#include <zstd.h>

#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "support/rar_builder.h"
#include "support/seed_corpus.h"
#include "support/test_bytes.h"
#include "support/zip_builder.h"
#include "zip/zip_methods.h"

namespace {

const uint8_t* bytes_of(const std::string& content) {
  return reinterpret_cast<const uint8_t*>(content.data());
}

std::string bzip2_stream(const std::string& content) {
  std::string stream(content.size() + content.size() / 100 + 600, '\0');
  unsigned int size = static_cast<unsigned int>(stream.size());
  std::string input = content;
  if (BZ2_bzBuffToBuffCompress(stream.data(), &size, input.data(), static_cast<unsigned int>(input.size()), 9, 0, 0) !=
      BZ_OK) {
    return "";
  }
  stream.resize(size);
  return stream;
}

std::string xz_stream(const std::string& content) {
  std::string stream(lzma_stream_buffer_bound(content.size()), '\0');
  size_t size = 0;
  if (lzma_easy_buffer_encode(6, LZMA_CHECK_CRC64, nullptr, bytes_of(content), content.size(),
                              reinterpret_cast<uint8_t*>(stream.data()), &size, stream.size()) != LZMA_OK) {
    return "";
  }
  stream.resize(size);
  return stream;
}

// A zip LZMA entry's data: version 9.20, the size of the properties, the
// properties, then the raw stream with an end marker.
std::string zip_lzma_stream(const std::string& content) {
  lzma_options_lzma options{};
  lzma_lzma_preset(&options, 6);
  lzma_filter filters[2] = {{LZMA_FILTER_LZMA1, &options}, {LZMA_VLI_UNKNOWN, nullptr}};
  uint8_t properties[5] = {};
  if (lzma_properties_encode(&filters[0], properties) != LZMA_OK) return "";
  std::string stream(lzma_stream_buffer_bound(content.size()), '\0');
  size_t size = 0;
  if (lzma_raw_buffer_encode(filters, nullptr, bytes_of(content), content.size(),
                             reinterpret_cast<uint8_t*>(stream.data()), &size, stream.size()) != LZMA_OK) {
    return "";
  }
  stream.resize(size);
  return std::string("\x09\x14\x05\x00", 4) + std::string(reinterpret_cast<const char*>(properties), 5) + stream;
}

std::string zstd_stream(const std::string& content) {
  std::string frame(ZSTD_compressBound(content.size()), '\0');
  const size_t size = ZSTD_compress(frame.data(), frame.size(), content.data(), content.size(), 3);
  if (ZSTD_isError(size)) return "";
  frame.resize(size);
  return frame;
}

ZipEntryPlan packed_entry(std::string name, std::string content, uint16_t method, std::string data) {
  ZipEntryPlan entry = stored_entry(std::move(name), std::move(content));
  entry.method = method;
  entry.data = std::move(data);
  return entry;
}

ZipPlan with_comment(ZipPlan plan, std::string comment) {
  plan.comment = std::move(comment);
  return plan;
}

Seeds seeds() {
  const std::string content = text_bytes(3000);
  // A deflate stream without 258-byte matches reads the same as deflate64.
  const std::vector<ZipEntryPlan> every_method = {
      stored_entry("stored.bin", content),
      deflated_entry("deflate.bin", content),
      packed_entry("deflate64.bin", content, method_deflate64, deflate_bytes(content)),
      packed_entry("bzip2.bin", content, method_bzip2, bzip2_stream(content)),
      packed_entry("lzma.bin", content, method_lzma, zip_lzma_stream(content)),
      packed_entry("zstd.bin", content, method_zstd, zstd_stream(content)),
      packed_entry("xz.bin", content, method_xz, xz_stream(content)),
  };
  ZipPlan methods = zip_of(every_method);
  methods.entries[4].flags = 2;  // the LZMA stream ends with a marker

  const std::string sized =
      build_zip(zip_of({deflated_entry("2k.bin", text_bytes(2048)), stored_entry("12k.bin", text_bytes(12288)),
                        deflated_entry("14k.bin", text_bytes(14336)), deflated_entry("16k.bin", text_bytes(16384))}));
  const std::string inner = build_zip(with_comment(methods, "inner"));
  const std::string nested =
      build_zip(with_comment(zip_of({stored_entry("sizes.zip", sized), deflated_entry("methods.zip", inner),
                                     stored_entry("dir/", ""), packed_entry("xz.zip", "", method_xz, xz_stream(""))}),
                             "outer"));
  ZipPlan deep = zip_of({stored_entry("a.bin", "a")});
  for (int level = 0; level < 18; ++level) {
    deep = zip_of(
        {stored_entry("f.bin", text_bytes(static_cast<size_t>(level) * 7)), deflated_entry("d.zip", build_zip(deep))});
  }
  ZipPlan zeros =
      zip_of({deflated_entry("zeros.bin", std::string(1 << 20, '\0')),
              deflated_entry("zeros.zip", build_zip(zip_of({deflated_entry("z.bin", std::string(1 << 20, '\0'))})))});

  Seeds out;
  out.emplace_back("methods", build_zip(methods));
  // The last byte picks the mode: '0' all, '1' -m1, '2' -m2, '3' -pzc.
  for (const char mode : {'0', '1', '2', '3'}) {
    out.emplace_back(
        std::string("nested-mode-") + mode,
        build_zip(with_comment(zip_of({stored_entry("nested.zip", nested), stored_entry("loose.bin", "x")}),
                               std::string("mode ") + mode)));
  }
  out.emplace_back("deep", build_zip(with_comment(deep, "deep 0")));
  out.emplace_back("zeros", build_zip(zeros));
  // RAR: no tool here writes it; the other formats read through libarchive
  // come from make_archive_seeds.sh, but for gzip files of several members.
  const RarFiles rar_files = {{"a.bin", text_bytes(2048)}, {"inner.zip", sized}, {"e.bin", ""}};
  out.emplace_back("stored4.rar", rar4_stored(rar_files));
  out.emplace_back("stored5.rar", rar5_stored(rar_files));
  // Cut after its first file: no end of archive header.
  const std::string stored5 = rar5_stored(rar_files);
  const std::string& first = rar_files[0].second;
  out.emplace_back("cut5.rar", stored5.substr(0, stored5.find(first) + first.size()));
  // gzip: members one after the other, a member of nothing, zero padding.
  out.emplace_back("members.gz",
                   gzip_member(text_bytes(3000)) + gzip_member("") + gzip_member(sized) + std::string(16, '\0'));
  return out;
}

}  // namespace

int main(int argc, char** argv) {
  return write_seed_corpus(argc, argv, seeds());
}
