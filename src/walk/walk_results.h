// What a walk of one archive found, in walk order, when a worker walks it
// (a 7z block can only be unpacked in order): images already summarised,
// messages and comment lines. The job ring commits them in the archive's
// place, so the output is the same for any number of threads.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "catalogue/image_summary.h"

enum class WalkResultKind : uint8_t { Image, Message, CommentLine };

struct WalkResult {
  WalkResultKind kind;
  std::unique_ptr<char[]> text;  // the image's display name, the message, or the comment line
  uint64_t text_size;
  ImageSummary summary;  // of an Image
};

using WalkResults = std::vector<WalkResult>;
