#!/usr/bin/env bash
# Builds the Debian packages in build/package (the "package" preset: prefix
# /usr, no tests or benchmarks, Debian's hardening flags and debug
# information, which goes into the -dbgsym package):
#   build/package/vorlan_<version>_amd64.deb          program, plug-ins, manual
#   build/package/vorlan-dev_<version>_amd64.deb      plug-in SDK
#   build/package/vorlan-dbgsym_<version>_amd64.ddeb  debug symbols of the program and plug-ins
# Prints the paths of the three packages.
set -euo pipefail
cd "$(dirname "$0")/.."
export DEB_BUILD_MAINT_OPTIONS=hardening=+all
cxxflags="$(dpkg-buildflags --get CPPFLAGS) $(dpkg-buildflags --get CXXFLAGS) -fno-ident"
ldflags=$(dpkg-buildflags --get LDFLAGS)
# The release type's -O3 follows these flags and wins over their -O2.
cmake --preset package -DCMAKE_CXX_FLAGS="$cxxflags" -DCMAKE_EXE_LINKER_FLAGS="$ldflags" \
  -DCMAKE_SHARED_LINKER_FLAGS="$ldflags" -DCMAKE_MODULE_LINKER_FLAGS="$ldflags" >/dev/null
cmake --build --preset package -j2
rm -f build/package/vorlan*_*.deb build/package/vorlan*_*.ddeb
(cd build/package && cpack -G DEB >/dev/null)

# CPack 3.25 writes the -dbgsym package's md5sums with the absolute paths of
# its staging folder and gives it no documentation folder. Rebuilt here as
# debhelper makes them: md5sums of the package's own paths, and
# usr/share/doc/vorlan-dbgsym a link to vorlan's folder (copyright, changelog).
ddeb=$(ls build/package/vorlan-dbgsym_*_amd64.ddeb)
tree=$(mktemp -d)
trap 'rm -rf "$tree"' EXIT
dpkg-deb --raw-extract "$ddeb" "$tree/p"
mkdir -p "$tree/p/usr/share/doc"
ln -s vorlan "$tree/p/usr/share/doc/vorlan-dbgsym"
(cd "$tree/p" && find usr -type f -print0 | sort -z | xargs -0 md5sum) >"$tree/p/DEBIAN/md5sums"
dpkg-deb --root-owner-group -Zxz --build "$tree/p" "$ddeb" >/dev/null
for pattern in vorlan_*_amd64.deb vorlan-dev_*_amd64.deb vorlan-dbgsym_*_amd64.ddeb; do
  # shellcheck disable=SC2086 # the pattern names the one file
  ls "$PWD"/build/package/$pattern
done
