// Fuzz target: walks the input as an archive file through the archive
// walkers, nested archives and the expansion budget included, in the mode
// its last byte picks (its low two bits: 0 all, 1 -m1, 2 -m2, 3 -pzc), and
// catalogues what it finds. The input is walked as the first kind of
// archive that opens it: zip, then each kind read through libarchive, so
// that every format is reachable without a byte to choose it. Jobs run on
// this thread: no workers are started.
#include <cstddef>
#include <cstdint>
#include <memory>

#include "archive/archive_kind.h"
#include "archive/archive_reader.h"
#include "catalogue/rom_entry.h"
#include "catalogue/run_mode.h"
#include "jobs/commit_consumer.h"
#include "jobs/image_jobs.h"
#include "walk/archive_walker.h"
#include "walk/expansion_budget.h"
#include "walk/open_archive.h"
#include "walk/stream_archive_walker.h"
#include "walk/walk_output.h"
#include "walk/walk_sink.h"
#include "zip/zip_archive.h"

namespace {

constexpr ArchiveKind stream_kinds[] = {ArchiveKind::SevenZip, ArchiveKind::Rar,      ArchiveKind::Tar,
                                        ArchiveKind::TarGzip,  ArchiveKind::TarBzip2, ArchiveKind::TarXz,
                                        ArchiveKind::TarZstd,  ArchiveKind::Gzip};

void walk_input(const uint8_t* data, size_t size) {
  const auto archive = std::make_shared<OpenArchive>();
  if (zip_open_memory(archive->archive, data, size)) {
    scan_archive(provenance_of_name("fuzz.zip"), archive);
    return;
  }
  for (const ArchiveKind kind : stream_kinds) {
    ArchiveReader reader{};
    if (!archive_open_memory(reader, kind, data, size, "fuzz.bin.gz")) continue;
    ExpansionBudget budget = expansion_budget_for(size);
    walk_stream_archive(provenance_of_name("fuzz"), reader, WalkSink{nullptr}, budget, 1);
    archive_close(reader);
    return;
  }
}

// Each input's catalogue, dropped after it.
Catalogue g_catalogue;

void admit(void* catalogue, const Provenance& origin, const ImageSummary& summary, bool admitted,
           const AuditDigests* audit) {
  add_summarised_rom(*static_cast<Catalogue*>(catalogue), origin, summary, admitted, audit);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  SumPlan plan;
  plan.mode = static_cast<RunMode>(data[size - 1] & 3);
  g_walk_output = job_ring_output(plan);
  static const bool installed = [] {
    install_commit_consumer(CommitConsumer{&g_catalogue, admit, nullptr, nullptr, nullptr, nullptr});
    return true;
  }();
  (void)installed;
  walk_input(data, size);
  finish_image_jobs();
  g_catalogue = Catalogue{};
  return 0;
}
