#!/usr/bin/env bash
# The Debian package: built by CPack from the normal build tree, installed by dpkg into a
# scratch root, its file list compared with packaging/package-files.txt, the installed programs
# started once, and lintian run on it (errors and warnings fail the step).
set -euo pipefail
here=$(cd "$(dirname "$0")/../.." && pwd)
dir=${VELMAR_PACKAGE_BUILD_DIR:-$here/build}
if [ ! -f "$dir/build.ninja" ]; then
  cmake -S "$here" -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
fi
cmake --build "$dir" --target velmar velmar-cli velmar-sim velmar_packaging_files -j "$(nproc)"

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
(cd "$dir" && cpack -G DEB -B "$work/out" >"$work/cpack.log" 2>&1) || { cat "$work/cpack.log"; exit 1; }
deb=$(ls "$work"/out/velmar_*.deb)
echo "-- $(basename "$deb")"
dpkg-deb --field "$deb" Depends Recommends

root=$work/root
mkdir -p "$root/var/lib/dpkg/info" "$root/var/lib/dpkg/updates"
touch "$root/var/lib/dpkg/status"
# Dependencies are the host's business here: only the package's own files are checked.
if ! dpkg --root="$root" --force-depends --log=/dev/null -i "$deb" >"$work/dpkg.log" 2>&1; then
  cat "$work/dpkg.log"
  exit 1
fi
(cd "$root" && find . -path ./var -prune -o \( -type f -o -type l \) -print | sed 's/^\.//' |
  sort) >"$work/files"
echo "-- installed files"
cat "$work/files"
status=0
if ! diff -u <(sort "$here/packaging/package-files.txt") "$work/files"; then
  echo "package file list differs from packaging/package-files.txt"
  status=1
fi

"$root/usr/bin/velmar-cli" --help >/dev/null || status=1
"$root/usr/bin/velmar-sim" --help >/dev/null || status=1

# The backup unit's confinement as systemd rates it (0 is the tightest, 10 the loosest), read
# from the unit file alone: no running systemd is needed.
echo "-- confinement of velmar-backup.service"
unit=$root/lib/systemd/system/velmar-backup.service
max_exposure=2.0
if command -v systemd-analyze >/dev/null; then
  rating=$(SYSTEMD_COLORS=0 systemd-analyze security --offline=yes "$unit" 2>&1 || true)
  exposure=$(sed -n 's/.*Overall exposure level for [^:]*: \([0-9.]*\).*/\1/p' <<<"$rating")
  if [ -z "$exposure" ]; then
    echo "$rating"
    echo "systemd-analyze gave no exposure level"
    status=1
  elif awk -v e="$exposure" -v m="$max_exposure" 'BEGIN { exit !(e > m) }'; then
    grep '✗' <<<"$rating" || true
    echo "exposure $exposure is above $max_exposure"
    status=1
  else
    echo "exposure $exposure (at most $max_exposure)"
  fi
else
  echo "systemd-analyze not installed (scripts/deps.sh installs systemd)"
  status=1
fi

echo "-- lintian"
if command -v lintian >/dev/null; then
  lintian --fail-on error,warning "$deb" || status=1
else
  echo "lintian not installed (scripts/deps.sh installs it)"
  status=1
fi
exit $status
