// Reasons from what the system and the zip layer said.
#include "walk/walk_failure.h"

#include <cerrno>

FailureReason reason_of_errno(int error) {
  switch (error) {
    case ENOENT:
    case ENOTDIR:
      return FailureReason::Missing;
    case EACCES:
    case EPERM:
      return FailureReason::Permission;
    case ELOOP:  // symbolic links that lead round in a circle
      return FailureReason::Loop;
    case ENOMEM:
      return FailureReason::OutOfMemory;
    default:
      return FailureReason::ReadError;
  }
}

FailureReason reason_of_zip_failure(ZipFailure failure) {
  switch (failure) {
    case ZipFailure::NotARegularFile:
      return FailureReason::NotARegularFile;
    case ZipFailure::NotAnArchive:
      return FailureReason::NotAnArchive;
    case ZipFailure::DamagedArchive:
      return FailureReason::DamagedArchive;
    case ZipFailure::Encrypted:
      return FailureReason::Encrypted;
    case ZipFailure::UnsupportedMethod:
      return FailureReason::UnsupportedMethod;
    case ZipFailure::BadCrc:
      return FailureReason::BadCrc;
    case ZipFailure::OutOfMemory:
      return FailureReason::OutOfMemory;
    case ZipFailure::None:  // not a failure: never asked
    case ZipFailure::DamagedData:
      break;
  }
  return FailureReason::DamagedData;
}

FailureReason reason_of_archive_failure(ArchiveFailure failure) {
  switch (failure) {
    case ArchiveFailure::NotAnArchive:
      return FailureReason::NotAnArchive;
    case ArchiveFailure::DamagedArchive:
      return FailureReason::DamagedArchive;
    case ArchiveFailure::Encrypted:
      return FailureReason::Encrypted;
    case ArchiveFailure::Unsupported:
      return FailureReason::UnsupportedMethod;
    case ArchiveFailure::OutOfMemory:
      return FailureReason::OutOfMemory;
    case ArchiveFailure::None:  // not a failure: never asked
    case ArchiveFailure::DamagedData:
      break;
  }
  return FailureReason::DamagedData;
}
