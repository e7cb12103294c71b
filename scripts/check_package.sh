#!/usr/bin/env bash
# Builds the Debian package (scripts/package.sh) and inspects it: the files a
# desktop needs are in it, its desktop entry and AppStream metadata validate,
# its manual pages render. As root with apt-get it also installs the package,
# starts the installed wizard under xvfb-run and removes the package again;
# CHECK_PACKAGE_INSTALL=0 skips that part. Prints how long it took.
set -euo pipefail
cd "$(dirname "$0")/.."
start=$(date +%s)

tools=(desktop-file-utils appstream man-db xvfb xauth)
missing=()
for p in "${tools[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  export DEBIAN_FRONTEND=noninteractive
  apt-get update
  apt-get install -y --no-install-recommends "${missing[@]}"
fi

# PACKAGE_DEB names a package built already (to look at it again quickly).
deb=${PACKAGE_DEB:-$(./scripts/package.sh)}
echo "package: $deb ($(du -h "$deb" | cut -f1))"
fail() {
  echo "check_package.sh: $*" >&2
  exit 1
}

info=$(dpkg-deb -I "$deb")
echo "$info" | sed -n '/Package:/,$p'
echo "$info" | grep -q '^ Package: tessaly-draviel$' || fail "wrong package name"
echo "$info" | grep -Eq '^ Depends:.*libqt6widgets6' || fail "no Qt dependency computed"
echo "$info" | grep -Eq '^ Depends:.*qt6-qpa-plugins' || fail "no window-system plugins"

app_id=example.ombrisk.TessalyDraviel
listing=$(dpkg-deb -c "$deb" | awk '{print $6}')
for f in ./usr/bin/tessaly-draviel ./usr/bin/tessaly \
         ./usr/share/tessaly-draviel/HAND-M.CUR \
         ./usr/share/tessaly-draviel/Samples/Sample.mdb \
         ./usr/share/applications/$app_id.desktop ./usr/share/metainfo/$app_id.metainfo.xml \
         ./usr/share/icons/hicolor/scalable/apps/tessaly-draviel.svg \
         ./usr/share/man/man1/tessaly.1.gz ./usr/share/man/man1/tessaly-draviel.1.gz \
         ./usr/share/doc/tessaly-draviel/copyright \
         ./usr/share/doc/tessaly-draviel/changelog.gz; do
  grep -qxF "$f" <<<"$listing" || fail "$f is not in the package"
done
for size in 16 32 48 64 128 256; do
  grep -qxF "./usr/share/icons/hicolor/${size}x${size}/apps/tessaly-draviel.png" <<<"$listing" ||
    fail "no ${size}x${size} icon"
done
if grep -q '^./usr/bin/HAND-M.CUR$' <<<"$listing"; then fail "data files in /usr/bin"; fi

root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT
dpkg-deb -x "$deb" "$root"
desktop-file-validate "$root/usr/share/applications/$app_id.desktop"
grep -q '^MimeType=.*application/x-msaccess;' "$root/usr/share/applications/$app_id.desktop" ||
  fail "the desktop entry does not offer .mdb files"
grep -q '^MimeType=.*application/vnd.ms-access;' "$root/usr/share/applications/$app_id.desktop" ||
  fail "the desktop entry does not offer .accdb files"
appstreamcli validate --no-net "$root/usr/share/metainfo/$app_id.metainfo.xml"
for page in tessaly tessaly-draviel; do
  warnings=$(MANWIDTH=80 man --warnings -l "$root/usr/share/man/man1/$page.1.gz" 2>&1 >/dev/null)
  [ -z "$warnings" ] || fail "$page(1): $warnings"
  MANWIDTH=80 man -l "$root/usr/share/man/man1/$page.1.gz" | grep -q "^NAME" ||
    fail "$page(1) does not render"
done
# Each bitmap icon is a PNG of its size (width and height at bytes 16 to 23).
for size in 16 32 48 64 128 256; do
  png="$root/usr/share/icons/hicolor/${size}x${size}/apps/tessaly-draviel.png"
  read -r -a b < <(od -An -tu1 -j16 -N8 "$png")
  width=$(((b[0] << 24) | (b[1] << 16) | (b[2] << 8) | b[3]))
  height=$(((b[4] << 24) | (b[5] << 16) | (b[6] << 8) | b[7]))
  [ "$width" = "$size" ] && [ "$height" = "$size" ] || fail "$png is ${width}x${height}"
done
if command -v lintian >/dev/null; then
  echo "lintian:"
  lintian --tag-display-limit 0 "$deb" || true
fi

if [ "${CHECK_PACKAGE_INSTALL:-1}" = 1 ] && [ "$(id -u)" -eq 0 ] &&
   ! dpkg-query -W -f='${Status}' tessaly-draviel 2>/dev/null | grep -q "install ok installed"; then
  export DEBIAN_FRONTEND=noninteractive
  apt-get install -y "$deb"
  trap 'apt-get remove -y tessaly-draviel >/dev/null; rm -rf "$root"' EXIT
  [ "$(command -v tessaly-draviel)" = /usr/bin/tessaly-draviel ] || fail "not installed in /usr/bin"
  xvfb-run -a tessaly-draviel --version
  tessaly --version
  tessaly tables /usr/share/tessaly-draviel/Samples/Sample.mdb
  # A first start (nothing remembered) under a virtual display: the wizard
  # must still be running after a few seconds.
  home=$(mktemp -d -p "$root")
  env -u XDG_CONFIG_HOME -u XDG_DATA_HOME HOME="$home" xvfb-run -a sh -c '
    tessaly-draviel & pid=$!
    sleep 4
    kill -0 $pid || exit 1
    kill $pid; wait $pid; exit 0' || fail "the installed wizard did not keep running"
  echo "installed wizard started and ran"
  apt-get remove -y tessaly-draviel
  trap 'rm -rf "$root"' EXIT
else
  echo "check_package.sh: not installing the package (not root, already installed, or CHECK_PACKAGE_INSTALL=0)"
fi
echo "check_package.sh: ok in $(($(date +%s) - start)) s"
