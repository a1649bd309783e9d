// The decoders for the methods beyond stored and deflate, fed data that real
// tools and the libraries' own encoders wrote, whole, cut short and damaged.
#include <bzlib.h>
#include <gtest/gtest.h>
#include <lzma.h>
#include <zstd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include "support/opened_zip.h"
#include "support/temp_dir.h"
#include "support/test_bytes.h"
#include "zip/zip_entry.h"
#include "zip/zip_methods.h"
#include "zip/zip_source.h"

namespace {

struct Sink {
  std::string bytes;
  uint64_t count = 0;
  uint64_t limit = UINT64_MAX;  // refuses a piece that would go past this many bytes
  bool keep = true;
  bool all_zero = true;
};

bool take_output(void* context, const uint8_t* bytes, size_t size) {
  Sink& sink = *static_cast<Sink*>(context);
  if (size > sink.limit - sink.count) return false;
  sink.count += size;
  if (sink.keep) sink.bytes.append(reinterpret_cast<const char*>(bytes), size);
  for (size_t i = 0; i < size && sink.all_zero; ++i) sink.all_zero = bytes[i] == 0;
  return true;
}

// Runs the decoder over `stream`, the entry's compressed data alone.
bool unpack(uint16_t method, uint16_t flags, uint64_t uncompressed_size, const std::string& stream, Sink& sink) {
  ZipReader reader{};
  zip_source_use_memory(reader, stream.data(), stream.size());
  std::vector<uint8_t> input_buffer(zip_piece_size), output_buffer(zip_piece_size);
  ZipEntryInput input{&reader, 0, stream.size(), input_buffer.data()};
  const ZipOutput output{output_buffer.data(), &sink, take_output};
  const bool unpacked = zip_unpack_method(method, flags, uncompressed_size, input, output);
  zip_close(reader);
  return unpacked;
}

// Compressible and incompressible stretches, with repeats 40000 bytes apart
// (past deflate's 32 KiB window), over several pieces.
std::string sample_content() {
  const std::string block = random_bytes(40000, 7);
  std::string content;
  for (int i = 0; i < 8; ++i) content += block;
  return content + text_bytes(300000) + random_bytes(300000, 8);
}

std::string xz_stream(const std::string& content) {
  std::string stream(lzma_stream_buffer_bound(content.size()), '\0');
  size_t size = 0;
  EXPECT_EQ(lzma_easy_buffer_encode(6, LZMA_CHECK_CRC64, nullptr, reinterpret_cast<const uint8_t*>(content.data()),
                                    content.size(), reinterpret_cast<uint8_t*>(stream.data()), &size, stream.size()),
            LZMA_OK);
  stream.resize(size);
  return stream;
}

std::string bzip2_stream(const std::string& content) {
  unsigned size = static_cast<unsigned>(content.size() + content.size() / 50 + 1000);
  std::string stream(size, '\0');
  EXPECT_EQ(BZ2_bzBuffToBuffCompress(stream.data(), &size, const_cast<char*>(content.data()),
                                     static_cast<unsigned>(content.size()), 9, 0, 0),
            BZ_OK);
  stream.resize(size);
  return stream;
}

// Zip's LZMA form: version, properties size 5, the properties, the raw
// stream; with the end marker (LZMA1) or without it (LZMA1EXT).
std::string zip_lzma_stream(const std::string& content, bool end_marker) {
  lzma_options_lzma options{};
  lzma_lzma_preset(&options, 6);
  lzma_filter filters[2] = {{end_marker ? LZMA_FILTER_LZMA1 : LZMA_FILTER_LZMA1EXT, &options},
                            {LZMA_VLI_UNKNOWN, nullptr}};
  uint8_t properties[5];
  EXPECT_EQ(lzma_properties_encode(&filters[0], properties), LZMA_OK);
  std::string stream(lzma_stream_buffer_bound(content.size()), '\0');
  size_t size = 0;
  EXPECT_EQ(lzma_raw_buffer_encode(filters, nullptr, reinterpret_cast<const uint8_t*>(content.data()), content.size(),
                                   reinterpret_cast<uint8_t*>(stream.data()), &size, stream.size()),
            LZMA_OK);
  stream.resize(size);
  return std::string("\x10\x02\x05\x00", 4) + std::string(reinterpret_cast<char*>(properties), 5) + stream;
}

bool has_7zz() {
  return std::system("command -v 7zz >/dev/null 2>&1") == 0;
}

// The data of the one entry of an archive that 7-Zip wrote with `method`,
// and the entry's flags.
std::string stream_from_7zz(const std::string& content, const std::string& method, uint16_t& flags) {
  TempDir dir;
  const std::string input = dir.write("content.bin", content);
  const std::string command = "7zz a -tzip -mx=9 -mm=" + method + " " + dir.at("out.zip") + " " + input + " >/dev/null";
  EXPECT_EQ(std::system(command.c_str()), 0);
  OpenedZip zip(read_file(dir.at("out.zip")));
  ZipEntryStat stat{};
  EXPECT_TRUE(zip.is_open && zip_stat_entry(zip.archive.reader, 0, stat));
  const uint64_t local_header = stat.local_header_offset;
  if (zip.bytes.size() < local_header + 30) return "";
  auto u16_at = [&](uint64_t offset) {
    return static_cast<unsigned>(static_cast<uint8_t>(zip.bytes[offset])) |
           static_cast<unsigned>(static_cast<uint8_t>(zip.bytes[offset + 1])) << 8;
  };
  flags = stat.flags;
  return zip.bytes.substr(local_header + 30 + u16_at(local_header + 26) + u16_at(local_header + 28),
                          stat.compressed_size);
}

// Deflate64 written by hand: bits go in from the lowest, Huffman codes from
// their top bit.
struct BitWriter {
  std::string bytes;
  unsigned used = 8;  // bits used in the last byte
  void put(uint32_t value, unsigned count) {
    for (unsigned i = 0; i < count; ++i) {
      if (used == 8) {
        bytes.push_back('\0');
        used = 0;
      }
      bytes.back() = static_cast<char>(bytes.back() | (((value >> i) & 1) << used++));
    }
  }
  void put_code(uint32_t code, unsigned length) {
    for (unsigned i = length; i-- > 0;) put(code >> i, 1);
  }
  void align() { used = 8; }
};

void put_stored_block(BitWriter& writer, const std::string& bytes, bool is_final) {
  writer.put(is_final, 1);
  writer.put(0, 2);
  writer.align();
  writer.put(static_cast<uint32_t>(bytes.size()), 16);
  writer.put(static_cast<uint32_t>(~bytes.size()), 16);
  writer.bytes += bytes;
}

constexpr uint32_t fixed_length_285 = 0xC5;  // 8 bits
constexpr uint32_t fixed_end_of_block = 0;   // 7 bits

struct MethodCase {
  std::string name;
  uint16_t method;
  uint16_t flags;
  std::string content;
  std::string stream;
  size_t corrupt_offset;  // a byte whose change the decoder must notice
  char corrupt_value;
  bool ignores_trailing_bytes = true;  // Zstandard takes them for another frame
};

std::vector<MethodCase> method_cases() {
  const std::string content = sample_content();
  std::vector<MethodCase> cases;
  auto add = [&](const std::string& name, uint16_t method, uint16_t flags, const std::string& bytes,
                 const std::string& stream, size_t corrupt_offset, char corrupt_value) {
    cases.push_back(MethodCase{name, method, flags, bytes, stream, corrupt_offset, corrupt_value});
  };
  // Checked formats: any changed byte fails the check.
  const std::string zstd = zstd_frame(content);
  add("zstd", method_zstd, 0, content, zstd, zstd.size() / 2, static_cast<char>(~zstd[zstd.size() / 2]));
  const std::string two_frames = zstd_frame("first frame ") + zstd_frame(text_bytes(1000));
  add("zstd, two frames", method_zstd, 0, "first frame " + text_bytes(1000), two_frames, 8,
      static_cast<char>(~two_frames[8]));
  cases[0].ignores_trailing_bytes = cases[1].ignores_trailing_bytes = false;
  const std::string xz = xz_stream(content);
  add("xz", method_xz, 0, content, xz, xz.size() / 2, static_cast<char>(~xz[xz.size() / 2]));
  const std::string bzip2 = bzip2_stream(content);
  add("bzip2", method_bzip2, 0, content, bzip2, bzip2.size() / 2, static_cast<char>(~bzip2[bzip2.size() / 2]));
  // LZMA has no check: properties past lc 8, lp 4, pb 4 are refused.
  add("lzma, end marker", method_lzma, 2, content, zip_lzma_stream(content, true), 4, '\xFF');
  add("lzma, no end marker", method_lzma, 0, content, zip_lzma_stream(content, false), 4, '\xFF');

  // Deflate64's longest match at its farthest distance, which 7-Zip never
  // writes: two stored blocks, then a fixed block of length 65538 from
  // 65536 back and length 3 from 32769 back. The last block becomes
  // reserved type 3 when damaged.
  const std::string window = random_bytes(65536, 9);
  BitWriter writer;
  put_stored_block(writer, window.substr(0, 65535), false);
  put_stored_block(writer, window.substr(65535), false);
  const size_t fixed_block_offset = writer.bytes.size();
  writer.put(1, 1);
  writer.put(1, 2);
  writer.put_code(fixed_length_285, 8);
  writer.put(65535, 16);
  writer.put_code(31, 5);
  writer.put(16383, 14);
  writer.put_code(fixed_length_285, 8);
  writer.put(0, 16);
  writer.put_code(30, 5);
  writer.put(0, 14);
  writer.put_code(fixed_end_of_block, 7);
  std::string far_matches = window + window + window.substr(0, 2);
  for (int i = 0; i < 3; ++i) far_matches += far_matches[far_matches.size() - 32769];
  add("deflate64, longest and farthest matches", method_deflate64, 0, far_matches, writer.bytes, fixed_block_offset,
      static_cast<char>(writer.bytes[fixed_block_offset] | 0x06));

  if (!has_7zz()) return cases;
  uint16_t flags = 0;
  const std::string deflate64 = stream_from_7zz(content, "Deflate64", flags);
  add("7-Zip deflate64", method_deflate64, flags, content, deflate64, 0, static_cast<char>(deflate64[0] | 0x06));
  const std::string bzip2_7zz = stream_from_7zz(content, "BZip2", flags);
  add("7-Zip bzip2", method_bzip2, flags, content, bzip2_7zz, bzip2_7zz.size() / 2,
      static_cast<char>(~bzip2_7zz[bzip2_7zz.size() / 2]));
  add("7-Zip lzma", method_lzma, flags, content, stream_from_7zz(content, "LZMA", flags), 4, '\xFF');
  return cases;
}

}  // namespace

TEST(ZipMethods, UnpacksWhatRealEncodersWrote) {
  if (!has_7zz()) std::fprintf(stderr, "7zz not found: the 7-Zip cases are left out\n");
  for (const MethodCase& c : method_cases()) {
    SCOPED_TRACE(c.name);
    ASSERT_GT(c.stream.size(), c.corrupt_offset);
    Sink whole;
    EXPECT_TRUE(unpack(c.method, c.flags, c.content.size(), c.stream, whole));
    EXPECT_TRUE(whole.bytes == c.content) << "got " << whole.bytes.size() << " bytes of " << c.content.size();

    Sink trailing;
    EXPECT_EQ(unpack(c.method, c.flags, c.content.size(), c.stream + "trailing bytes", trailing),
              c.ignores_trailing_bytes);
    if (c.ignores_trailing_bytes) {
      EXPECT_EQ(trailing.count, c.content.size());
    }

    for (const size_t kept : {size_t{0}, c.stream.size() / 2, c.stream.size() - 1}) {
      SCOPED_TRACE("cut to " + std::to_string(kept) + " bytes");
      Sink cut;
      EXPECT_FALSE(unpack(c.method, c.flags, c.content.size(), c.stream.substr(0, kept), cut));
    }

    std::string corrupted = c.stream;
    corrupted[c.corrupt_offset] = c.corrupt_value;
    Sink damaged;
    EXPECT_FALSE(unpack(c.method, c.flags, c.content.size(), corrupted, damaged)) << "damaged";

    // A sink that stops early stops the decoder.
    Sink short_sink;
    short_sink.limit = c.content.size() - 1;
    EXPECT_FALSE(unpack(c.method, c.flags, c.content.size(), c.stream, short_sink)) << "refused";
  }
}

TEST(ZipMethods, Bzip2BombUnpacksInFullThroughPieces) {
  constexpr size_t zeros_size = size_t{64} << 20;
  bz_stream stream{};
  ASSERT_EQ(BZ2_bzCompressInit(&stream, 9, 0, 0), BZ_OK);
  const std::vector<char> zeros(size_t{1} << 20);
  std::string compressed(size_t{1} << 20, '\0');
  stream.next_out = compressed.data();
  stream.avail_out = static_cast<unsigned>(compressed.size());
  for (size_t fed = 0; fed < zeros_size; fed += zeros.size()) {
    stream.next_in = const_cast<char*>(zeros.data());
    stream.avail_in = static_cast<unsigned>(zeros.size());
    while (stream.avail_in > 0) ASSERT_EQ(BZ2_bzCompress(&stream, BZ_RUN), BZ_RUN_OK);
  }
  while (BZ2_bzCompress(&stream, BZ_FINISH) != BZ_STREAM_END) ASSERT_GT(stream.avail_out, 0u);
  compressed.resize(compressed.size() - stream.avail_out);
  BZ2_bzCompressEnd(&stream);

  Sink sink;
  sink.keep = false;
  EXPECT_TRUE(unpack(method_bzip2, 0, zeros_size, compressed, sink));
  EXPECT_EQ(sink.count, zeros_size);
  EXPECT_TRUE(sink.all_zero);
}

TEST(Deflate64, RefusesMalformedStreams) {
  struct Case {
    const char* name;
    std::string stream;
  };
  std::vector<Case> cases;
  auto add = [&](const char* name, const std::function<void(BitWriter&)>& write) {
    BitWriter writer;
    write(writer);
    cases.push_back(Case{name, writer.bytes});
  };
  add("reserved block type", [](BitWriter& w) {
    w.put(1, 1);
    w.put(3, 2);
  });
  add("stored length without its complement", [](BitWriter& w) {
    w.put(1, 3);
    w.align();
    w.put(5, 16);
    w.put(5, 16);
    w.bytes += "hello";
  });
  add("stored block longer than the input", [](BitWriter& w) {
    w.put(1, 3);
    w.align();
    w.put(6, 16);
    w.put(0xFFF9, 16);
    w.bytes += "hello";
  });
  add("no final block", [](BitWriter& w) {
    w.put(0, 3);
    w.align();
    w.put(0, 16);
    w.put(0xFFFF, 16);
  });
  // The last two bits of the end-of-block code are cut off; the zero bits
  // read in their place must not count.
  add("end of block cut short", [](BitWriter& w) {
    w.put(1, 1);
    w.put(1, 2);
    w.put_code(0x30 + 'a', 8);
    w.put_code(fixed_end_of_block, 7);
    w.bytes.pop_back();
  });
  add("literal/length symbol 286", [](BitWriter& w) {
    w.put(1, 1);
    w.put(1, 2);
    w.put_code(0xC6, 8);
  });
  add("distance before the first byte", [](BitWriter& w) {
    w.put(1, 1);
    w.put(1, 2);
    w.put_code(0x30 + 'a', 8);
    w.put_code(1, 7);
    w.put_code(1, 5);
    w.put_code(fixed_end_of_block, 7);
  });
  add("287 literal/length codes", [](BitWriter& w) {
    w.put(1, 1);
    w.put(2, 2);
    w.put(30, 5);
    w.put(0, 5);
  });
  // Four code-length codes, each one bit long.
  add("over-subscribed code-length code", [](BitWriter& w) {
    w.put(1, 1);
    w.put(2, 2);
    w.put(0, 5);
    w.put(0, 5);
    w.put(0, 4);
    for (int i = 0; i < 4; ++i) w.put(1, 3);
  });
  // Symbols 16 and 0 get one bit each; the first length repeats nothing.
  add("repeat before any length", [](BitWriter& w) {
    w.put(1, 1);
    w.put(2, 2);
    w.put(0, 5);
    w.put(0, 5);
    w.put(0, 4);
    w.put(1, 3);
    w.put(0, 3);
    w.put(0, 3);
    w.put(1, 3);
    w.put_code(1, 1);
    w.put(0, 2);
  });
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Sink sink;
    EXPECT_FALSE(unpack(method_deflate64, 0, 0, c.stream, sink));
  }
}
