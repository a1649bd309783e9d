// Closing an archive once nothing reads it any more.
#include "walk/open_archive.h"

#include "zip/zip_reader.h"

OpenArchive::~OpenArchive() {
  zip_close(archive.reader);
}
