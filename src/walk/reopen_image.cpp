// Down the chain of containers: each level is either the file (a
// descriptor) or an archive entry held in memory.
#include "walk/reopen_image.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "archive/archive_kind.h"
#include "archive/archive_reader.h"
#include "base/opened_file.h"
#include "zip/zip_archive.h"
#include "zip/zip_entry.h"
#include "zip/zip_extract.h"
#include "zip/zip_reader.h"
#include "zip/zip_source.h"
#include "zip/zip_stream.h"

namespace {

// What the current level is read from: the file, or a block holding the
// entry of the level above.
struct Container {
  OpenedFile file{-1, FileKind::Unsized, 0, 0, 0, 0, 0};
  MallocBlock block;
  uint64_t block_size = 0;
  std::string name;  // its display name: a gzip image is named after it

  Container() = default;
  ~Container() {
    if (file.fd >= 0) close(file.fd);
  }
  Container(const Container&) = delete;
  Container& operator=(const Container&) = delete;
};

struct SinkTarget {
  ImageBytesSink sink;
  void* context;
  bool stopped;
};

bool forward_piece(void* context, const uint8_t* bytes, size_t size) {
  auto& target = *static_cast<SinkTarget*>(context);
  if (target.sink(target.context, bytes, size)) return true;
  target.stopped = true;
  return false;
}

// The entry's bytes into a block of their own (malloc), growing as they
// come; false when they cannot be read or memory runs out.
bool read_whole_entry(ArchiveReader& reader, MallocBlock& block, uint64_t& size) {
  uint64_t capacity = 0;
  size = 0;
  for (;;) {
    if (size == capacity) {
      const uint64_t grown = capacity < archive_piece_size ? archive_piece_size : capacity * 2;
      if (grown > SIZE_MAX || grown < capacity) return false;
      void* moved = std::realloc(block.get(), static_cast<size_t>(grown));
      if (moved == nullptr) return false;
      (void)block.release();
      block.reset(static_cast<uint8_t*>(moved));
      capacity = grown;
    }
    size_t got = 0;
    if (!archive_read_piece(reader, block.get() + size, static_cast<size_t>(capacity - size), got)) return false;
    if (got == 0) return true;
    size += got;
  }
}

// Streams the current entry to the sink, piece by piece.
ReopenOutcome stream_entry(ArchiveReader& reader, SinkTarget& target) {
  std::vector<uint8_t> piece(archive_piece_size);
  for (;;) {
    size_t got = 0;
    if (!archive_read_piece(reader, piece.data(), piece.size(), got)) return ReopenOutcome::ReadFailed;
    if (got == 0) return ReopenOutcome::Streamed;
    if (!forward_piece(&target, piece.data(), got)) return ReopenOutcome::SinkStopped;
  }
}

// Reads the current entry to its end, its bytes dropped.
bool drain_entry(ArchiveReader& reader) {
  std::vector<uint8_t> piece(archive_piece_size);
  for (;;) {
    size_t got = 0;
    if (!archive_read_piece(reader, piece.data(), piece.size(), got)) return false;
    if (got == 0) return true;
  }
}

bool is_level_name(const ChainLevel& level, const char* stored) {
  return level.named_by_container || std::string_view(stored) == std::string_view(level.name(), level.name_size);
}

// The entry at the level's index of an open zip archive: streamed, or
// extracted into `entry` for the next level.
ReopenOutcome zip_entry(const ZipArchive& archive, const ChainLevel& level, bool last, SinkTarget& target,
                        MallocBlock& entry, uint64_t& size) {
  ZipEntryStat stat{};
  if (level.index >= zip_entry_count(archive.reader)) return ReopenOutcome::EntryChanged;
  if (!zip_stat_entry(archive.reader, level.index, stat)) return ReopenOutcome::ReadFailed;
  if (!is_level_name(level, stat.name)) return ReopenOutcome::EntryChanged;
  ZipExtraction extraction{};
  if (!zip_prepare_extraction(archive.reader, level.index, extraction)) return ReopenOutcome::ReadFailed;
  if (!last) {
    entry.reset(zip_extract_prepared_entry(archive.reader, extraction, size));
    return entry ? ReopenOutcome::Streamed : ReopenOutcome::ReadFailed;
  }
  ZipScratch scratch{};
  const ZipOutput output{nullptr, &target, forward_piece};
  const bool unpacked = zip_unpack_entry(archive.reader, extraction, scratch, output);
  zip_free_scratch(scratch);
  if (target.stopped) return ReopenOutcome::SinkStopped;
  return unpacked ? ReopenOutcome::Streamed : ReopenOutcome::ReadFailed;
}

ReopenOutcome zip_level(Container& container, const ChainLevel& level, bool last, SinkTarget& target) {
  ZipArchive archive{};
  const bool opened = container.block ? zip_open_memory(archive, container.block.get(), container.block_size)
                                      : zip_open_opened_file(archive, container.file);
  container.file.fd = -1;  // the archive owns the descriptor now, opened or not
  if (!opened) return ReopenOutcome::ReadFailed;
  MallocBlock entry;
  uint64_t size = 0;
  const ReopenOutcome outcome = zip_entry(archive, level, last, target, entry, size);
  zip_close(archive.reader);  // it may read the old block until here
  if (entry) {
    container.block = std::move(entry);
    container.block_size = size;
  }
  return outcome;
}

// One level in an archive read through libarchive: its headers in order up
// to the entry's index.
ReopenOutcome stream_archive_level(Container& container, ArchiveKind kind, const ChainLevel& level, bool last,
                                   SinkTarget& target) {
  ArchiveReader reader{};
  const bool opened =
      container.block
          ? archive_open_memory(reader, kind, container.block.get(), container.block_size, container.name.c_str())
          : archive_open_descriptor(reader, kind, container.file.fd, container.file.size, container.name.c_str());
  container.file.fd = -1;  // the reader owns the descriptor now, opened or not
  if (!opened) return ReopenOutcome::ReadFailed;
  const std::unique_ptr<ArchiveReader, void (*)(ArchiveReader*)> closer(
      &reader, [](ArchiveReader* open) { archive_close(*open); });
  ArchiveEntryInfo info{};
  for (;;) {
    const ArchiveStep step = archive_next_entry(reader, info);
    if (step == ArchiveStep::Failed) return ReopenOutcome::ReadFailed;
    if (step == ArchiveStep::End || info.index > level.index) return ReopenOutcome::EntryChanged;
    if (info.index == level.index) break;
    // Entries before it are read through, as the walk read them: skipping
    // one in a solid block can leave the next one unreadable.
    if (!drain_entry(reader)) return ReopenOutcome::ReadFailed;
  }
  if (!is_level_name(level, info.name)) return ReopenOutcome::EntryChanged;
  if (last) return stream_entry(reader, target);
  MallocBlock entry;
  uint64_t size = 0;
  if (!read_whole_entry(reader, entry, size)) return ReopenOutcome::ReadFailed;
  archive_close(reader);  // it may read the old block until here
  container.block = std::move(entry);
  container.block_size = size;
  return ReopenOutcome::Streamed;
}

ReopenOutcome stream_file(const OpenedFile& file, SinkTarget& target) {
  std::vector<uint8_t> piece(archive_piece_size);
  for (uint64_t done = 0; done < file.size;) {
    const uint64_t wanted = file.size - done < piece.size() ? file.size - done : piece.size();
    if (!read_exactly(file.fd, done, piece.data(), wanted)) return ReopenOutcome::ReadFailed;
    if (!forward_piece(&target, piece.data(), static_cast<size_t>(wanted))) return ReopenOutcome::SinkStopped;
    done += wanted;
  }
  return ReopenOutcome::Streamed;
}

// Opens the file and each archive down the chain to the one holding the
// image (the last level), into `container`.
ReopenOutcome open_down_to_last(const Provenance& origin, const std::vector<const ChainLevel*>& levels,
                                Container& container, SinkTarget& target) {
  if (!origin.file || !origin.file->identified) return ReopenOutcome::OtherFile;
  if (!open_and_size(AT_FDCWD, origin.file->path(), container.file)) return ReopenOutcome::NotOpened;
  if (container.file.kind != FileKind::Regular) return ReopenOutcome::NotOpened;
  if (container.file.device != origin.file->device || container.file.inode != origin.file->inode) {
    return ReopenOutcome::OtherFile;
  }
  container.name.assign(origin.file->path(), origin.file->path_size);
  for (size_t k = 0; k + 1 < levels.size(); ++k) {
    const ChainLevel& level = *levels[k];
    const auto kind = static_cast<ArchiveKind>(level.archive_kind);
    const std::string level_display(level_name(level, container.name));
    const ReopenOutcome outcome = kind == ArchiveKind::Zip
                                      ? zip_level(container, level, false, target)
                                      : stream_archive_level(container, kind, level, false, target);
    if (outcome != ReopenOutcome::Streamed) return outcome;
    container.name = level_display;
  }
  return ReopenOutcome::Streamed;
}

std::vector<const ChainLevel*> levels_of(const Provenance& origin) {
  std::vector<const ChainLevel*> levels(static_cast<size_t>(chain_depth(origin)));
  chain_levels(origin, levels.data());
  return levels;
}

bool same_level(const ChainLevel& a, const ChainLevel& b) {
  return a.index == b.index && a.archive_kind == b.archive_kind && a.named_by_container == b.named_by_container &&
         std::string_view(a.name(), a.name_size) == std::string_view(b.name(), b.name_size);
}

struct OrderedTarget {
  OrderedImagesSink sink;
  void* context;
  size_t image;
};

bool forward_ordered_piece(void* context, const uint8_t* bytes, size_t size) {
  auto& target = *static_cast<OrderedTarget*>(context);
  return target.sink(target.context, target.image, bytes, size);
}

// One pass over the archive, each wanted entry streamed as it comes. After
// a failure nothing more is read: the images after it get its outcome.
void stream_wanted_entries(ArchiveReader& reader, const Provenance* const* origins, size_t count,
                           OrderedTarget& ordered, ReopenOutcome* outcomes) {
  size_t next = 0;
  const auto finish = [&](ReopenOutcome rest) {
    for (; next < count; ++next) outcomes[next] = rest;
  };
  ArchiveEntryInfo info{};
  while (next < count) {
    const ArchiveStep step = archive_next_entry(reader, info);
    if (step == ArchiveStep::Failed) return finish(ReopenOutcome::ReadFailed);
    if (step == ArchiveStep::End) return finish(ReopenOutcome::EntryChanged);
    while (next < count && origins[next]->entry->index < info.index) outcomes[next++] = ReopenOutcome::EntryChanged;
    if (next == count) return;
    const ChainLevel& level = *origins[next]->entry;
    if (level.index != info.index || !is_level_name(level, info.name)) {
      if (level.index == info.index) outcomes[next++] = ReopenOutcome::EntryChanged;
      if (!drain_entry(reader)) return finish(ReopenOutcome::ReadFailed);
      continue;
    }
    ordered.image = next;
    SinkTarget target{forward_ordered_piece, &ordered, false};
    outcomes[next] = stream_entry(reader, target);
    if (outcomes[next] == ReopenOutcome::SinkStopped) return finish(ReopenOutcome::SinkStopped);
    if (outcomes[next++] != ReopenOutcome::Streamed) return finish(ReopenOutcome::ReadFailed);
  }
}

}  // namespace

ReopenOutcome stream_image_again(const Provenance& origin, ImageBytesSink sink, void* context) {
  Container container;
  SinkTarget target{sink, context, false};
  const std::vector<const ChainLevel*> levels = levels_of(origin);
  const ReopenOutcome opened = open_down_to_last(origin, levels, container, target);
  if (opened != ReopenOutcome::Streamed) return opened;
  if (levels.empty()) return stream_file(container.file, target);
  const ChainLevel& level = *levels.back();
  const auto kind = static_cast<ArchiveKind>(level.archive_kind);
  return kind == ArchiveKind::Zip ? zip_level(container, level, true, target)
                                  : stream_archive_level(container, kind, level, true, target);
}

bool read_in_one_pass(const Provenance& a, const Provenance& b) {
  if (!a.file || !b.file || !a.entry || !b.entry || !a.file->identified || !b.file->identified) return false;
  if (a.file->device != b.file->device || a.file->inode != b.file->inode) return false;
  if (static_cast<ArchiveKind>(a.entry->archive_kind) == ArchiveKind::Zip) return false;
  if (a.entry->archive_kind != b.entry->archive_kind) return false;
  const ChainLevel* outer_a = a.entry->outer;
  const ChainLevel* outer_b = b.entry->outer;
  for (; outer_a != nullptr && outer_b != nullptr; outer_a = outer_a->outer, outer_b = outer_b->outer) {
    if (outer_a != outer_b && !same_level(*outer_a, *outer_b)) return false;
  }
  return outer_a == outer_b;
}

void stream_images_in_one_pass(const Provenance* const* origins, size_t count, OrderedImagesSink sink, void* context,
                               ReopenOutcome* outcomes) {
  if (count == 0) return;
  if (!origins[0]->entry) {
    for (size_t k = 0; k < count; ++k) outcomes[k] = ReopenOutcome::EntryChanged;
    return;
  }
  Container container;
  SinkTarget unused{nullptr, nullptr, false};
  const std::vector<const ChainLevel*> levels = levels_of(*origins[0]);
  ReopenOutcome opened = open_down_to_last(*origins[0], levels, container, unused);
  ArchiveReader reader{};
  if (opened == ReopenOutcome::Streamed) {
    const auto kind = static_cast<ArchiveKind>(levels.back()->archive_kind);
    const bool open =
        container.block
            ? archive_open_memory(reader, kind, container.block.get(), container.block_size, container.name.c_str())
            : archive_open_descriptor(reader, kind, container.file.fd, container.file.size, container.name.c_str());
    container.file.fd = -1;  // the reader owns the descriptor now, opened or not
    if (!open) opened = ReopenOutcome::ReadFailed;
  }
  if (opened != ReopenOutcome::Streamed) {
    for (size_t k = 0; k < count; ++k) outcomes[k] = opened;
    return;
  }
  OrderedTarget ordered{sink, context, 0};
  stream_wanted_entries(reader, origins, count, ordered, outcomes);
  archive_close(reader);
}
