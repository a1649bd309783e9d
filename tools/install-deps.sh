#!/bin/sh
# Installs, through apt-get, the Debian packages the build, tests and tools
# need, but only those that are missing. Usage: tools/install-deps.sh [group...]
#   build  compiler, CMake, Ninja and the libraries imgchk links: libdeflate,
#          libcrypto, zlib, libbz2, liblzma, libzstd, libarchive (always included)
#   test   GoogleTest, clang with its sanitizer runtime, and the archive
#          tools (zip, 7-Zip, bsdtar, GNU tar and the compressors) whose
#          archives the tests read
#   bench  the programs the benchmark compares imgchk with
#   lint   clang-format and clang-tidy
set -eu

build="cmake ninja-build g++ make pkg-config libdeflate-dev libssl-dev zlib1g-dev libisal-dev libbz2-dev liblzma-dev libzstd-dev libarchive-dev"
test="libgtest-dev libbenchmark-dev clang libclang-rt-14-dev python3 zip unzip libarchive-tools 7zip tar gzip bzip2 xz-utils zstd"
lint="clang-format clang-tidy"
bench="rhash fdupes jdupes hyperfine linux-perf time p7zip-full"

wanted="$build"
for group in "$@"; do
  case "$group" in
    build) ;;
    test) wanted="$wanted $test" ;;
    bench) wanted="$wanted $test $bench" ;;
    lint) wanted="$wanted $lint" ;;
    *) echo "install-deps: unknown group '$group'" >&2; exit 2 ;;
  esac
done

missing=""
for package in $wanted; do
  if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed'; then
    missing="$missing $package"
  fi
done
[ -z "$missing" ] && exit 0

echo "Installing:$missing"
as_root=""
if [ "$(id -u)" -ne 0 ]; then as_root="sudo"; fi
export DEBIAN_FRONTEND=noninteractive
$as_root apt-get update -qq
$as_root apt-get install -y -qq --no-install-recommends $missing
