#!/usr/bin/env bash
# Builds the Debian package of a build tree and checks it as a user gets it: the paths it installs,
# its control fields, tombrel run from an extracted copy (directly and through a link, as /usr/bin has
# it), the bash completion it installs, and lintian's verdict when lintian is installed.
#   package-test.sh CPACK BUILD_DIR VERSION
set -uo pipefail
cpack=$1 build=$2 version=$3
failures=0
fail() {
    echo "FAILED: $*"
    failures=$((failures + 1))
}

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export HOME="$work/home" XDG_DATA_HOME="$work/home/data" XDG_CONFIG_HOME="$work/home/config" \
    XDG_CACHE_HOME="$work/home/cache" XDG_STATE_HOME="$work/home/state" XDG_RUNTIME_DIR="$work/home/runtime"
mkdir -p "$HOME" "$XDG_DATA_HOME" "$XDG_CONFIG_HOME" "$XDG_CACHE_HOME" "$XDG_STATE_HOME" "$XDG_RUNTIME_DIR"
chmod 700 "$XDG_RUNTIME_DIR"
# No session bus: tombrel must not tell the developer's own helper about the test's projects.
unset DBUS_SESSION_BUS_ADDRESS

deb="$build/pro-tombrel_${version}_$(dpkg --print-architecture).deb"
rm -f "$deb"
# What the package target runs once the build is complete, as it is when the tests run: building the
# target here would relink programs that other tests are running at the same time.
echo "== building the package"
if ! (cd "$build" && "$cpack" --config ./CPackConfig.cmake) >"$work/package.log" 2>&1; then
    cat "$work/package.log"
    echo "FAILED: cpack failed"
    exit 1
fi
[ -f "$deb" ] || { echo "FAILED: no $deb"; exit 1; }
ls -l "$deb"

echo "== contents"
dpkg-deb --contents "$deb" >"$work/contents" || fail "dpkg-deb --contents"
cat "$work/contents"
# The path of each entry, with a link's target after " -> ".
awk '{ $1 = $2 = $3 = $4 = $5 = ""; sub(/^ +/, ""); print }' "$work/contents" >"$work/paths"
bundle="./opt/Pro Tombrel.app/Contents"
for path in \
    "$bundle/Info.plist" \
    "$bundle/MacOS/Pro Tombrel" \
    "$bundle/MacOS/tombrel" \
    "$bundle/MacOS/ProTombrelHelper.app/Contents/Info.plist" \
    "$bundle/MacOS/ProTombrelHelper.app/Contents/MacOS/ProTombrelHelper" \
    "$bundle/Resources/pro-tombrel.svg" \
    "$bundle/Resources/tombrel.1" \
    "$bundle/Resources/clip.png" \
    "./usr/bin/tombrel -> /opt/Pro Tombrel.app/Contents/MacOS/tombrel" \
    "./usr/share/applications/pro-tombrel.desktop" \
    "./usr/share/icons/hicolor/scalable/apps/pro-tombrel.svg" \
    "./usr/share/icons/hicolor/48x48/apps/pro-tombrel.png" \
    "./usr/share/icons/hicolor/256x256/apps/pro-tombrel.png" \
    "./usr/share/man/man1/tombrel.1.gz" \
    "./usr/share/bash-completion/completions/tombrel" \
    "./usr/share/doc/pro-tombrel/copyright" \
    "./usr/share/doc/pro-tombrel/changelog.gz" \
    "./usr/share/lintian/overrides/pro-tombrel"; do
    grep -qxF -- "$path" "$work/paths" || fail "the package lacks $path"
done
# The build tree's desktop entry names build paths; only the installed one belongs in the package.
grep -q "Resources/pro-tombrel.desktop" "$work/paths" && fail "the package holds the build tree's desktop entry"

echo "== control"
dpkg-deb --field "$deb" | tee "$work/control"
grep -qx "Package: pro-tombrel" "$work/control" || fail "package name"
grep -qx "Version: $version" "$work/control" || fail "version"
grep -qx "Section: video" "$work/control" || fail "section"
# Computed from the binaries: Qt's libraries among them.
grep -q "^Depends: .*libqt6core6" "$work/control" || fail "Depends lacks Qt, computed from the binaries"

echo "== the extracted copy"
root="$work/root"
dpkg-deb -x "$deb" "$root" || fail "dpkg-deb -x"
tool="$root/opt/Pro Tombrel.app/Contents/MacOS/tombrel"
out=$("$tool" --version 2>&1)
echo "tombrel --version: $out"
[ "$out" = "tombrel $version" ] || fail "tombrel --version printed '$out'"
case $(file -b "$tool") in
*"not stripped"*) fail "tombrel is not stripped" ;;
esac
grep -q '^Exec="/opt/Pro Tombrel.app/Contents/MacOS/Pro Tombrel" %F$' "$root/usr/share/applications/pro-tombrel.desktop" \
    || fail "the desktop entry does not start the installed application"
grep -qx "Icon=pro-tombrel" "$root/usr/share/applications/pro-tombrel.desktop" || fail "the desktop entry's icon"

# Through a link, as /usr/bin/tombrel: the tool still finds its bundle. Its log names the program's
# path and, read from the bundle's Info.plist, its version.
mkdir -p "$work/bin"
ln -s "$tool" "$work/bin/tombrel"
rm -rf "$XDG_STATE_HOME/Quenfield"
"$work/bin/tombrel" paths >/dev/null 2>&1 || fail "tombrel paths through a link"
log="$XDG_STATE_HOME/Quenfield/tombrel.1.log"
if ! grep -qxF -- "Path: $tool" <(cut -d' ' -f5- "$log") || ! grep -qxF -- "Version: $version" <(cut -d' ' -f5- "$log"); then
    head -n 5 "$log"
    fail "tombrel started through a link did not find its bundle"
fi

echo "== bash completion"
mkdir -p "$work/projects/Two Words"
: >"$work/projects/Spring Edit.prproj"
: >"$work/projects/Trailer.prproj"
"$work/bin/tombrel" add "$work/projects/Spring Edit.prproj" "$work/projects/Trailer.prproj" >/dev/null 2>&1 \
    || fail "tombrel add"
# Completes the words of a command line as bash would, one candidate a line.
complete_line() {
    PATH="$work/bin:$PATH" bash -c '
        source "$1"; shift
        COMP_WORDS=("$@"); COMP_CWORD=$(($# - 1)); COMPREPLY=()
        _tombrel tombrel "${COMP_WORDS[COMP_CWORD]}" "${COMP_WORDS[COMP_CWORD - 1]}" 2>/dev/null
        printf "%s\n" "${COMPREPLY[@]}" | sort' completion "$root/usr/share/bash-completion/completions/tombrel" "$@"
}
expect_completion() {
    local expected=$1
    shift
    local got
    got=$(complete_line "$@" | paste -sd' ')
    [ "$got" = "$expected" ] || fail "completing '$*': expected '$expected', got '$got'"
}
expect_completion "paths prefs projects prune" tombrel p
expect_completion "--help --version" tombrel --
expect_completion "install remove status" tombrel agent ''
expect_completion "--drive --extensions --help" tombrel watch add --
expect_completion "--help --html --pdf" tombrel report Trailer --
expect_completion "--json" tombrel projects --j
expect_completion "Spring Edit" tombrel versions Sp
expect_completion "Spring Edit Trailer" tombrel remove Trailer ''
expect_completion "$work/projects/Two Words" tombrel watch add "$work/projects/T"
expect_completion "$work/projects/Spring Edit.prproj" tombrel add "$work/projects/S"
expect_completion "" tombrel changes Trailer ''
expect_completion "$work/projects/Spring Edit.prproj" tombrel report Trailer --html "$work/projects/S"
expect_completion "" tombrel backup Trailer --uuid ''
expect_completion "Spring Edit" tombrel --bogus versions S

if command -v lintian >/dev/null; then
    echo "== lintian"
    lintian --fail-on error --display-info "$deb" || fail "lintian reports errors"
else
    echo "== lintian is not installed; packaging/check-package.sh installs and runs it"
fi

if [ "$failures" -gt 0 ]; then
    echo "$failures check(s) failed"
    exit 1
fi
echo "the package passed every check"
