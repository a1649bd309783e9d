#!/bin/sh
# Installs, through apt-get, the Debian packages the build, tests and tools
# need, but only those that are missing. Usage: tools/install-deps.sh [group...]
#   build  compiler, CMake, Ninja and the libraries imgchk links: libdeflate,
#          libcrypto, zlib, libbz2, liblzma, libzstd, Expat, libarchive, SQLite
#          (always included)
#   test   GoogleTest, clang with its sanitizer runtime, the archive tools
#          (zip, 7-Zip, bsdtar, GNU tar and the compressors) whose archives
#          the tests read, and xmllint for the DATs written
#   bench  the programs the benchmark compares imgchk with
#   lint   clang-format and clang-tidy
# Run as root to install; any other user is told what is missing and the
# apt-get line to run as root, and the script fails.
set -eu

build="cmake ninja-build g++ make pkg-config libdeflate-dev libssl-dev zlib1g-dev libisal-dev libbz2-dev liblzma-dev libzstd-dev libexpat1-dev libarchive-dev libsqlite3-dev"
test="libgtest-dev libbenchmark-dev clang libclang-rt-14-dev python3 zip unzip libarchive-tools 7zip tar gzip bzip2 xz-utils zstd libxml2-utils"
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

# Without root there is nothing this script may do: say what is missing and
# the line to run as root, and stop.
if [ "$(id -u)" -ne 0 ]; then
  echo "install-deps: missing Debian packages:$missing" >&2
  echo "install-deps: as root, run: apt-get install --no-install-recommends$missing" >&2
  exit 1
fi

echo "Installing:$missing"
export DEBIAN_FRONTEND=noninteractive
apt-get update -qq
apt-get install -y -qq --no-install-recommends $missing
