// Opening an image again from where the walk found it, for a later pass
// over its bytes (the rebuild of sets): the file by its path, trusted only
// when it is still the file the walk opened (device and inode), then each
// archive down the chain by the entry's index, trusted only when the entry
// there still has the stored name.
#pragma once

#include <cstddef>
#include <cstdint>

#include "base/provenance.h"

enum class ReopenOutcome : uint8_t {
  Streamed,      // every byte went to the sink, and the archive's checks held
  NotOpened,     // the path cannot be opened now, or is no regular file
  OtherFile,     // another file lies at the path now, or the walk learnt no identity
  EntryChanged,  // an entry of the chain is missing, or holds another name
  ReadFailed,    // a container or the image cannot be read or unpacked (damage, CRC, memory)
  SinkStopped,   // the sink said stop
};

// Takes each piece of the image in order; false stops the reading.
using ImageBytesSink = bool (*)(void* context, const uint8_t* bytes, size_t size);

// Streams the image's bytes to `sink`, as a run that walked it would read
// them. The sink may have had some bytes when the outcome is not Streamed.
// Nested archives are held whole in memory on the way down, as the walk
// holds them.
ReopenOutcome stream_image_again(const Provenance& origin, ImageBytesSink sink, void* context);

// Whether the two images lie in one archive that is read in order (no zip:
// reaching an entry there means reading every entry before it), so that
// they are best read in one pass.
bool read_in_one_pass(const Provenance& a, const Provenance& b);

// Takes each piece of image `image` (an index into the caller's list) in
// order; false stops the reading of every image.
using OrderedImagesSink = bool (*)(void* context, size_t image, const uint8_t* bytes, size_t size);

// Streams several images of one archive (read_in_one_pass of each pair) in
// one pass over it: `origins` in ascending order of their entry's index,
// none twice. Each image's outcome goes to `outcomes[k]`, as
// stream_image_again's would be; one that fails leaves those after it
// unread (ReadFailed or SinkStopped).
void stream_images_in_one_pass(const Provenance* const* origins, size_t count, OrderedImagesSink sink, void* context,
                               ReopenOutcome* outcomes);
