// What reading one file produced, in order, and its encoding in a cache row.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "catalogue/audit_digests.h"
#include "catalogue/image_summary.h"

// Digests and sums a row may hold besides the size, CRC-32 and 16-bit sum
// every row has; a run that needs one the row lacks reads the file again.
enum DigestBits : uint32_t {
  digest_sha256 = 1u << 0,
  digest_sha1 = 1u << 1,
  digest_md5 = 1u << 2,
  digest_headerless = 1u << 3,  // the summary of an image without its copier header
  // A size without -m1 segments, or other than -m2's, holds these as zero.
  digest_segment_sums = 1u << 4,  // the -m1 segment sums
  digest_shift16 = 1u << 5,       // the -m2 shift-register checksum
};

// The sums of one image that the run that read it took: a run in another
// mode is served when the row holds what it shows.
struct CachedImage {
  ImageSummary summary;  // mode_sums and shift16 unused: see below
  uint16_t segment_sums[4];
  uint16_t shift16;
  AuditDigests audit;  // SHA-1, MD5 and the header-less summary, where held
  // The header rules the header-less summary was decided by: a run with
  // other rules has it taken again.
  uint64_t header_rules_id;
  uint32_t digests;  // DigestBits held; digest_headerless: the rules were tried
};

// The mode sums an image of `size` bytes holds whoever read it: those its
// size has not, which are zero (and are not written).
uint32_t mode_sums_held_by_size(uint64_t size);

enum class CachedItemKind : uint8_t { Image = 1, Failure = 2, Comment = 3 };

// One level of the entries from the file down to the item, as the walk
// found them; the display name is made again from them and the file's name
// at every replay, so that a renamed file replays under its new name.
struct CachedLevel {
  uint8_t archive_kind;  // of the archive holding the entry
  bool named_by_container;
  uint32_t index;
  std::string name;  // stored name, any bytes
  bool operator==(const CachedLevel&) const = default;
};

struct CachedItem {
  CachedItemKind kind;
  std::vector<CachedLevel> levels;  // none for the file itself
  CachedImage image;                // Image
  uint8_t message;                  // Failure: the walk's message kind and reason,
  uint8_t reason;                   // as numbers the walk checks when replaying
  uint32_t entry_index;             // Failure
  std::string comment;              // Comment
};

struct CachedResults {
  std::vector<CachedItem> items;
};

// The row's bytes: a format version, then each item with its kind, name
// and fields; an image's sums are tagged fields with their lengths, so that
// a reader skips fields it does not know.
std::string encode_cached_results(const CachedResults& results);

// False for bytes that are not a whole encoding of a known version, or that
// lack a sum every image has; a row that fails is read again, never trusted.
bool decode_cached_results(const uint8_t* bytes, size_t size, CachedResults& results);

// Whether two readings of one file agree: the same items in the same order,
// and for images the same sums and the same value of every digest both hold.
bool same_cached_results(const CachedResults& a, const CachedResults& b);

// The digests every image of the results holds (all bits when there is no
// image): what the row can answer without reading the file.
uint32_t digests_of_every_image(const CachedResults& results);

// Gives the images of `fresh` the digests they lack from `kept`, an earlier
// reading of the same bytes (same_cached_results), so that a row read again
// for a digest it lacked keeps those it had.
void add_kept_digests(const CachedResults& kept, CachedResults& fresh);
