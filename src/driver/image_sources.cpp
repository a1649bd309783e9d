// The header-less block is found again as the walk found it: the image's
// first bytes (up to the rules' window) are held until the rules decide,
// then only [start, end) goes on.
#include "driver/image_sources.h"

#include <algorithm>
#include <vector>

#include "base/opened_file.h"
#include "walk/reopen_image.h"

void (*g_after_rebuild_piece)(const char* set_name) = nullptr;

namespace {

struct PourTarget {
  const RomSink* sink = nullptr;
  const ImageSourceState* state = nullptr;
  bool without_header = false;
  uint64_t whole_size = 0;
  std::vector<uint8_t> head;  // the first bytes, until the rules decide
  size_t head_wanted = 0;
  bool decided = false;
  HeaderSkip skip{};
  uint64_t position = 0;  // of the image's bytes seen so far
  uint64_t poured = 0;    // bytes passed to the sink
  bool stopped = false;   // the sink said stop
};

bool pass_on(PourTarget& target, const uint8_t* bytes, size_t size) {
  if (size == 0) return true;
  if (!target.sink->take(target.sink->context, bytes, size)) {
    target.stopped = true;
    return false;
  }
  target.poured += size;
  if (g_after_rebuild_piece != nullptr) g_after_rebuild_piece(target.state->set_name);
  return true;
}

// The part of the piece at `position` inside the block the DAT lists.
bool pass_block_part(PourTarget& target, uint64_t position, const uint8_t* bytes, size_t size) {
  const uint64_t start = std::max(position, target.skip.start);
  const uint64_t end = std::min(position + size, target.skip.end);
  if (start >= end) return true;
  return pass_on(target, bytes + (start - position), static_cast<size_t>(end - start));
}

void decide(PourTarget& target) {
  target.skip = decide_header_skip(*target.state->rules, target.head.data(), target.head.size(), target.whole_size);
  // No rule applies now: the image changed, and the sums will say so.
  if (!target.skip.applies) target.skip = HeaderSkip{true, 0, UINT64_MAX};
  target.decided = true;
}

bool take_piece(void* context, const uint8_t* bytes, size_t size) {
  auto& target = *static_cast<PourTarget*>(context);
  if (!target.without_header) return pass_on(target, bytes, size);
  const uint64_t position = target.position;
  target.position += size;
  if (target.decided) return pass_block_part(target, position, bytes, size);
  const size_t room = target.head_wanted - target.head.size();
  const size_t held = std::min(room, size);
  target.head.insert(target.head.end(), bytes, bytes + held);
  if (target.head.size() < target.head_wanted) return true;
  decide(target);
  return pass_block_part(target, 0, target.head.data(), target.head.size()) &&
         pass_block_part(target, position + held, bytes + held, size - held);
}

// An image shorter than it was: the rules decide on what came.
bool finish_pour(PourTarget& target) {
  if (!target.without_header || target.decided) return true;
  decide(target);
  return pass_block_part(target, 0, target.head.data(), target.head.size());
}

void start_pour(PourTarget& target, const ImageSourceState& state, const RomSink& sink, uint32_t candidate_index) {
  const ImageCandidate& candidate = state.candidates[candidate_index];
  target.sink = &sink;
  target.state = &state;
  target.without_header = candidate.without_header && state.rules != nullptr;
  target.whole_size = candidate.whole_size;
  target.head_wanted = static_cast<size_t>(std::min<uint64_t>(candidate.whole_size, header_rule_window));
  if (target.without_header) target.head.reserve(target.head_wanted);
}

// The first candidate's bytes from its spool, through the same steps as
// from the image.
bool pour_from_spool(ImageSourceState& state, const RomSink& sink) {
  state.used = 0;
  PourTarget target;
  start_pour(target, state, sink, 0);
  constexpr size_t piece_size = size_t{1} << 18;
  std::vector<uint8_t> piece(piece_size);
  for (uint64_t done = 0; done < state.spool_size;) {
    const uint64_t wanted = std::min<uint64_t>(state.spool_size - done, piece_size);
    if (!read_exactly(state.spool_fd, done, piece.data(), wanted)) return false;
    if (!take_piece(&target, piece.data(), static_cast<size_t>(wanted))) return false;
    done += wanted;
  }
  return finish_pour(target) && !target.stopped;
}

bool pour_from_candidates(void* context, const RomSink& sink) {
  auto& state = *static_cast<ImageSourceState*>(context);
  if (state.spool_fd >= 0) return pour_from_spool(state, sink);
  for (uint32_t k = 0; k < state.candidate_count; ++k) {
    state.used = k;
    PourTarget target;
    start_pour(target, state, sink, k);
    const ReopenOutcome outcome = stream_image_again(*state.candidates[k].origin, take_piece, &target);
    if (outcome == ReopenOutcome::Streamed) return finish_pour(target) && !target.stopped;
    if (outcome == ReopenOutcome::SinkStopped || target.poured != 0) return false;
  }
  return false;
}

}  // namespace

RomSource image_rom_source(ImageSourceState& state) {
  return RomSource{&state, pour_from_candidates};
}
