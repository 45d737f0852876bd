#!/usr/bin/env bash
# Installs the build into a scratch folder and checks what a desktop needs from it: the programs and their
# version, the desktop entry, the metadata, the file type, the icons, the manual pages and the completion.
# Usage: packaging/check-install.sh BUILD_DIR VERSION
set -euo pipefail
build="$1"
version="$2"
dest="$(mktemp -d)"
trap 'rm -rf "$dest"' EXIT
fail() { echo "check-install: $*" >&2; exit 1; }

DESTDIR="$dest" cmake --install "$build" --prefix /usr >/dev/null
root="$dest/usr"

for program in zirezid zirezid-cli unitsim; do
  [ -x "$root/bin/$program" ] || fail "$program is not installed"
  out=$("$root/bin/$program" --version) || fail "$program --version fails"
  [ "$out" = "$program $version" ] || fail "$program --version says \"$out\""
done

desktop="$root/share/applications/ru.nordal.ZIRezid.desktop"
desktop-file-validate "$desktop" || fail "the desktop entry does not validate"
grep -q '^Exec=zirezid %f$' "$desktop" || fail "the desktop entry does not pass the file to open"
grep -q '^MimeType=application/x-zirezid-qor;$' "$desktop" || fail "the desktop entry does not handle .qor"

metainfo="$root/share/metainfo/ru.nordal.ZIRezid.metainfo.xml"
appstreamcli validate --no-net "$metainfo" >/dev/null || { appstreamcli validate --no-net "$metainfo"; fail "metainfo"; }
grep -q "<release version=\"$version\"" "$metainfo" || fail "the metainfo names another version"

mime="$root/share/mime/packages/zirezid.xml"
grep -q '<glob pattern="\*.qor"/>' "$mime" || fail "the file type does not claim *.qor"
if command -v update-mime-database >/dev/null; then
  # The database built from it alone knows the type by its name.
  cp -r "$root/share/mime" "$dest/mime"
  update-mime-database "$dest/mime" >/dev/null 2>&1
  grep -q 'application/x-zirezid-qor:\*\.qor' "$dest/mime/globs2" || fail "update-mime-database does not learn .qor"
fi

[ -f "$root/share/icons/hicolor/scalable/apps/zirezid.svg" ] || fail "no scalable icon"
for size in 16 22 24 32 48 64 128 256; do
  png="$root/share/icons/hicolor/${size}x${size}/apps/zirezid.png"
  [ -f "$png" ] || fail "no ${size}px icon"
  # Width and height stand in the PNG header at bytes 16-23.
  dims=$(od -An -tx1 -j16 -N8 "$png" | tr -d ' \n')
  [ "$dims" = "$(printf '%08x%08x' "$size" "$size")" ] || fail "the ${size}px icon is not ${size}x${size} ($dims)"
done

for page in zirezid zirezid-cli unitsim; do
  man="$root/share/man/man1/$page.1.gz"
  [ -f "$man" ] || fail "no manual page for $page"
  warnings=$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -l "$man" 2>&1 >/dev/null || true)
  [ -z "$warnings" ] || fail "the manual page of $page has faults: $warnings"
done
LC_ALL=C.UTF-8 MANWIDTH=80 man -l "$root/share/man/man1/zirezid-cli.1.gz" 2>/dev/null | grep -q "ports --check" ||
  fail "the manual of zirezid-cli does not describe ports --check"

completion="$root/share/bash-completion/completions/zirezid-cli"
bash -n "$completion" || fail "the completion is no valid bash"
# The completion offers the commands the program has.
words=$(bash -c "_init_completion() { cur=\${COMP_WORDS[COMP_CWORD]}; prev=\${COMP_WORDS[COMP_CWORD-1]};
  words=(\"\${COMP_WORDS[@]}\"); cword=\$COMP_CWORD; }
  source '$completion'; COMP_WORDS=(zirezid-cli po); COMP_CWORD=1; _zirezid_cli; echo \${COMPREPLY[*]}")
[ "$words" = "ports" ] || fail "the completion of \"po\" gives \"$words\""

[ -f "$root/share/doc/zirezid/copyright" ] || fail "no copyright file"
echo "check-install: all installed files are in place"
