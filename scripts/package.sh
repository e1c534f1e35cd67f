#!/usr/bin/env bash
# Builds the Debian package and checks it.
#   scripts/package.sh [PRESET] [--lint]
# PRESET is a CMake preset, "package" by default (a release build with Debian's hardening flags
# in build/package/); CI passes "default" to package the build whose tests just ran. The packages
# are made with `cpack -G DEB` in the preset's build folder, quillfen_<version>_<arch>.deb and
# quillfen-cluster_<version>_all.deb (the Dask driver, apart because it needs Python and Dask),
# and checked: their control fields, their files, the libraries of both programs, the desktop
# entry and the AppStream metainfo; --lint adds lintian, which must report no error for either.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"

preset=package
lint=0
for arg in "$@"; do
  case "$arg" in
    --lint) lint=1 ;;
    -*) echo "usage: $0 [PRESET] [--lint]" >&2; exit 2 ;;
    *) preset=$arg ;;
  esac
done

# dpkg-shlibdeps for the dependencies, and the two validators.
tools="dpkg-dev desktop-file-utils appstream"
((lint)) && tools+=" lintian"
QUILLFEN_EXTRA_PACKAGES="$tools" "$root/scripts/setup.sh" "$preset"

build="$root/build/$preset"
rm -f "$build"/quillfen_*.deb "$build"/quillfen-cluster_*.deb
(cd "$build" && cpack -G DEB >cpack.log 2>&1) || { cat "$build/cpack.log" >&2; exit 1; }

failures=0
fail() { echo "package check: $*" >&2; failures=$((failures + 1)); }

version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")
arch=$(dpkg --print-architecture)
deb="$build/quillfen_${version}_${arch}.deb"
cluster_deb="$build/quillfen-cluster_${version}_all.deb"
for d in "$deb" "$cluster_deb"; do
  [[ -f "$d" ]] || { echo "package check: no $d" >&2; ls "$build"/*.deb >&2 || true; exit 1; }
done

field() { dpkg-deb --field "$deb" "$1"; }
[[ $(field Package) == quillfen ]] || fail "Package is '$(field Package)'"
[[ $(field Version) == "$version" ]] || fail "Version is '$(field Version)', not $version"
[[ $(field Architecture) == "$arch" ]] || fail "Architecture is '$(field Architecture)'"
[[ $(field Section) == graphics ]] || fail "Section is '$(field Section)'"
[[ -n $(field Maintainer) && -n $(field Description) ]] || fail "no Maintainer or Description"
# Linked libraries (from dpkg-shlibdeps) and what the program loads at run time.
depends=", $(field Depends),"
for dep in libqt6widgets6 libqt6gui6 libzip4 libpugixml1v5 libturbojpeg0 \
  qt6-image-formats-plugins fonts-liberation2 xdg-utils; do
  [[ $depends == *", $dep"[\ ,]* ]] || fail "Depends lacks $dep: $depends"
done

tree=$(mktemp -d)
trap 'rm -rf "$tree"' EXIT
dpkg-deb --extract "$deb" "$tree"
id=io.github.quillfen.Quillfen
for path in usr/bin/quillfen usr/bin/quillfen-batch usr/lib/quillfen/quillfen \
  usr/lib/quillfen/HAND-M.CUR "usr/share/applications/$id.desktop" \
  "usr/share/metainfo/$id.metainfo.xml" usr/share/icons/hicolor/scalable/apps/quillfen.svg \
  usr/share/icons/hicolor/256x256/apps/quillfen.png usr/share/man/man1/quillfen.1.gz \
  usr/share/man/man1/quillfen-batch.1.gz usr/share/bash-completion/completions/quillfen-batch \
  usr/share/doc/quillfen/copyright usr/share/doc/quillfen/changelog.gz; do
  [[ -e "$tree/$path" ]] || fail "missing /$path"
done
[[ $(readlink "$tree/usr/bin/quillfen") == ../lib/quillfen/quillfen ]] || fail "/usr/bin/quillfen"
compgen -G "$tree/usr/lib/quillfen/Samples/*.xlsx" >/dev/null || fail "no sample workbooks"
uncompressed=$(find "$tree/usr/share/man" -type f ! -name '*.gz')
[[ -z $uncompressed ]] || fail "uncompressed manual pages: $uncompressed"
for program in usr/lib/quillfen/quillfen usr/bin/quillfen-batch; do
  missing=$(ldd "$tree/$program" | grep 'not found' || true)
  [[ -z $missing ]] || fail "/$program: $missing"
done
desktop-file-validate "$tree/usr/share/applications/$id.desktop" || fail "desktop entry"
appstreamcli validate --no-net "$tree/usr/share/metainfo/$id.metainfo.xml" >/dev/null ||
  fail "metainfo: $(appstreamcli validate --no-net "$tree/usr/share/metainfo/$id.metainfo.xml")"
[[ ! -e "$tree/usr/bin/quillfen-cluster" ]] || fail "quillfen-cluster is in the quillfen package"

# The Dask driver: its own package, for every architecture, on the same version of quillfen.
cfield() { dpkg-deb --field "$cluster_deb" "$1"; }
[[ $(cfield Package) == quillfen-cluster ]] || fail "Package is '$(cfield Package)'"
[[ $(cfield Architecture) == all ]] || fail "quillfen-cluster's Architecture is '$(cfield Architecture)'"
cdepends=", $(cfield Depends),"
for dep in "quillfen (= $version)" python3 python3-distributed; do
  [[ $cdepends == *", $dep"[\ ,]* ]] || fail "quillfen-cluster's Depends lacks $dep: $cdepends"
done
ctree="$tree/cluster"
mkdir "$ctree"
dpkg-deb --extract "$cluster_deb" "$ctree"
for path in usr/bin/quillfen-cluster usr/share/quillfen-cluster/quillfencluster/driver.py \
  usr/share/man/man1/quillfen-cluster.1.gz usr/share/doc/quillfen-cluster/copyright \
  usr/share/doc/quillfen-cluster/changelog.gz \
  usr/share/bash-completion/completions/quillfen-cluster; do
  [[ -e "$ctree/$path" ]] || fail "quillfen-cluster: missing /$path"
done
"$ctree/usr/bin/quillfen-cluster" --help >/dev/null || fail "quillfen-cluster --help"

if ((lint)); then
  lintian --fail-on error "$deb" || fail "lintian reports errors"
  lintian --fail-on error "$cluster_deb" || fail "lintian reports errors for quillfen-cluster"
fi

((failures == 0)) || exit 1
echo "$deb, $cluster_deb: checked"
