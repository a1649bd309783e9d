// The step of opening that reads the archive's directory.
#pragma once

#include "zip/zip_reader.h"

// Once the byte source is set: finds the end records and indexes the central
// directory. On false the caller closes the reader.
bool zip_reader_read_directory(ZipReader& reader);
