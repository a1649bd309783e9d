// Disks are few (a MAME DAT names about a thousand) and so are CHDs: the
// required disks are sorted by SHA-1 and each CHD looks its SHA-1 up.
#include "audit/disk_matching.h"

#include <algorithm>
#include <cstring>
#include <string>

namespace {

struct DiskKey {
  const uint8_t* sha1;
  uint32_t dat;
  uint32_t disk;
};

bool sha1_before(const DiskKey& a, const DiskKey& b) {
  return std::memcmp(a.sha1, b.sha1, dat_sha1_size) < 0;
}

bool build_disk_index(const DatFile* dats, size_t dat_count, GrowArray<DiskKey>& index) {
  for (size_t d = 0; d < dat_count; ++d) {
    for (size_t k = 0; k < dats[d].disks.count; ++k) {
      const DatDisk& disk = dats[d].disks[k];
      if (!is_required_disk(disk)) continue;
      if (!push_back(index, DiskKey{disk.sha1, static_cast<uint32_t>(d), static_cast<uint32_t>(k)})) return false;
    }
  }
  std::sort(index.begin(), index.end(), sha1_before);
  return true;
}

std::string chd_name(const DatFile& dat, DatText name) {
  return name == 0 ? std::string() : std::string(dat_text(dat, name)) + ".chd";
}

bool is_disk_in_place(const DatFile& dat, const DatDisk& disk, const ImagePlace& place) {
  return is_in_place_as(dat, disk.set, chd_name(dat, disk.name).c_str(), chd_name(dat, disk.merge).c_str(), place);
}

bool match_before(const AuditMatch& a, const AuditMatch& b) {
  if (a.dat != b.dat) return a.dat < b.dat;
  return a.rom < b.rom;
}

bool index_disk_matches(const DatFile* dats, size_t dat_count, AuditResult& result) {
  size_t slots = 0;
  for (size_t d = 0; d < dat_count; ++d) {
    if (!push_back(result.dat_disk_base, slots)) return false;
    slots += dats[d].disks.count;
  }
  if (!reserve_more(result.first_disk_match, slots + 1)) return false;
  result.first_disk_match.count = slots + 1;
  size_t next = 0;
  for (size_t d = 0; d < dat_count; ++d) {
    for (size_t k = 0; k < dats[d].disks.count; ++k) {
      result.first_disk_match[result.dat_disk_base[d] + k] = static_cast<uint32_t>(next);
      const auto at = [&](size_t m) { return result.disk_matches[m].dat == d && result.disk_matches[m].rom == k; };
      while (next < result.disk_matches.count && at(next)) ++next;
    }
  }
  result.first_disk_match[slots] = static_cast<uint32_t>(next);
  return true;
}

}  // namespace

bool match_disks(const DatFile* dats, size_t dat_count, const AuditImage* images, size_t image_count,
                 AuditResult& result) {
  GrowArray<DiskKey> index;
  if (!build_disk_index(dats, dat_count, index)) return false;
  for (size_t i = 0; i < image_count && index.count != 0; ++i) {
    if (images[i].chd_sha1 == nullptr) continue;
    const DiskKey probe{images[i].chd_sha1, 0, 0};
    const auto range = std::equal_range(index.begin(), index.end(), probe, sha1_before);
    for (const DiskKey* key = range.first; key != range.second; ++key) {
      const DatFile& dat = dats[key->dat];
      const bool in_place = is_disk_in_place(dat, dat.disks[key->disk], place_of(*images[i].origin));
      if (!push_back(result.disk_matches, AuditMatch{static_cast<uint32_t>(i), key->disk, key->dat, in_place})) {
        return false;
      }
      result.image_known[i] = 1;
    }
  }
  std::stable_sort(result.disk_matches.begin(), result.disk_matches.end(), match_before);
  return index_disk_matches(dats, dat_count, result);
}

RomMatches disk_matches_of(const AuditResult& result, uint32_t dat, uint32_t disk) {
  const size_t slot = result.dat_disk_base[dat] + disk;
  const uint32_t first = result.first_disk_match[slot];
  RomMatches matches{result.disk_matches.items + first, result.first_disk_match[slot + 1] - first, false};
  for (uint32_t k = 0; k < matches.count; ++k) matches.in_place = matches.in_place || matches.first[k].in_place;
  return matches;
}
