#!/usr/bin/env bash
# Installs a built tree into a temporary folder and checks it as a user's
# machine would see it: every file in its place, the desktop entry and the
# AppStream data valid, both manual pages render, the shell completions
# parse, and the installed programs answer --help and --version from another
# folder.
#   bash scripts/check-install.sh BUILD_DIR
set -euo pipefail
build=$(cd "${1:?usage: check-install.sh BUILD_DIR}" && pwd)
prefix=/usr
id=org.tarnwick.Tarnwick

stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT
DESTDIR="$stage" cmake --install "$build" --prefix "$prefix" >/dev/null
root="$stage$prefix"

failed=0
fail() {
  echo "check-install: $*" >&2
  failed=1
}

for file in \
  bin/tarnwick bin/tarnwick-cli \
  share/applications/$id.desktop \
  share/metainfo/$id.metainfo.xml \
  share/icons/hicolor/scalable/apps/$id.svg \
  share/icons/hicolor/{16x16,22x22,24x24,32x32,48x48,64x64,128x128,256x256}/apps/$id.png \
  share/man/man1/tarnwick.1.gz share/man/man1/tarnwick-cli.1.gz \
  share/bash-completion/completions/tarnwick-cli \
  share/tarnwick/help/Tarnwick.html; do
  [ -f "$root/$file" ] || fail "missing $prefix/$file"
done
for size in 16 22 24 32 48 64 128 256; do
  png="$root/share/icons/hicolor/${size}x$size/apps/$id.png"
  [ -f "$png" ] && ! file -b "$png" | grep -q "PNG image data, $size x $size" &&
    fail "$png is not a $size x $size PNG image"
done
# No installed text file may name the build or the source tree.
source_dir=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
named=$(grep -rlIF -e "$build" -e "$source_dir" "$root" || true)
[ -z "$named" ] || fail "installed files name the build or source tree: $named"

desktop-file-validate "$root/share/applications/$id.desktop" || fail "the desktop entry is not valid"
appstreamcli validate --no-net --pedantic "$root/share/metainfo/$id.metainfo.xml" >/dev/null ||
  fail "the AppStream data is not valid: $(appstreamcli validate --no-net "$root/share/metainfo/$id.metainfo.xml")"

for page in tarnwick tarnwick-cli; do
  # man reports a page it cannot format on standard error.
  warnings=$(MANWIDTH=80 man -l -Tutf8 "$root/share/man/man1/$page.1.gz" 2>&1 >/dev/null | grep -v '^$' || true)
  [ -z "$warnings" ] || fail "man -l $page.1.gz: $warnings"
  MANWIDTH=80 man -l "$root/share/man/man1/$page.1.gz" 2>/dev/null | grep -q "^NAME" || fail "$page.1.gz does not render"
done

bash -n "$root/share/bash-completion/completions/tarnwick-cli" || fail "the bash completion does not parse"
# Debian's zsh reads packages' functions from vendor-completions, others
# from site-functions; the build picks by its prefix.
zsh_completion=$(find "$root/share/zsh" -name _tarnwick-cli -path '*/zsh/*-*/*' 2>/dev/null | head -n 1)
if [ -z "$zsh_completion" ]; then
  fail "missing the zsh completion _tarnwick-cli"
elif command -v zsh >/dev/null; then
  zsh -n "$zsh_completion" || fail "the zsh completion does not parse"
else
  echo "check-install: zsh missing, its completion is not parsed" >&2
fi

# From a folder of their own, without a display.
cd "$stage"
for command in "tarnwick --version" "tarnwick --help" "tarnwick-cli --version" "tarnwick-cli --help" \
  "tarnwick-cli scan --help" "tarnwick-cli restore --help"; do
  read -r program arguments <<<"$command"
  # shellcheck disable=SC2086
  output=$(env -u DISPLAY -u WAYLAND_DISPLAY "$root/bin/$program" $arguments 2>&1) ||
    fail "$command failed: $output"
  [ -n "$output" ] || fail "$command printed nothing"
done
version=$("$root/bin/tarnwick" --version)
[ "$version" = "$("$root/bin/tarnwick-cli" --version | sed 's/^tarnwick-cli/tarnwick/')" ] ||
  fail "tarnwick and tarnwick-cli give different versions"
grep -q "<release version=\"${version#tarnwick }\"" "$root/share/metainfo/$id.metainfo.xml" ||
  fail "the AppStream data does not name release ${version#tarnwick }"

[ $failed -eq 0 ] && echo "check-install: $(find "$root" -type f | wc -l) files installed and checked"
exit $failed
