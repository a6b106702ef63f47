#!/usr/bin/env bash
# Checks a built tree's installation and its Debian packages:
#
#   tests/packaging/check-package.sh [BUILD_DIR]     (default: build-normal)
#
# Installs with --prefix /usr into a scratch DESTDIR and looks for every file, validates the
# desktop entry and the metainfo, compares the completion with tq470-flash --help, builds both
# packages with cpack, checks what each holds and depends on, and runs lintian (no errors, no
# warnings but the first upload's).
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
build=$(cd "${1:-$root/build-normal}" && pwd)
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
failures=0
fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }

dest=$scratch/root
DESTDIR=$dest cmake --install "$build" --prefix /usr >/dev/null
man=usr/share/man/man1
tq470_files=(usr/bin/tq470-bootloader usr/bin/tq470-flash usr/lib/udev/rules.d/60-tq470.rules
    usr/share/applications/org.tq470.bootloader.desktop
    usr/share/icons/hicolor/scalable/apps/tq470-bootloader.svg
    usr/share/metainfo/org.tq470.bootloader.metainfo.xml
    $man/tq470-flash.1.gz $man/tq470-bootloader.1.gz
    usr/share/bash-completion/completions/tq470-flash
    usr/share/doc/tq470/copyright usr/share/doc/tq470/changelog.Debian.gz
    usr/share/tq470/translations/tq470_{de,en,pl}.qm)
lib=usr/lib/x86_64-linux-gnu/tq470
sim_files=(usr/bin/tq470-sim usr/bin/tq470-sample-firmware $lib/libtq470-noaccess.so $lib/libtq470-control.so $man/tq470-sim.1.gz
    $man/tq470-sample-firmware.1.gz usr/share/doc/tq470-sim/copyright)
for f in "${tq470_files[@]}" "${sim_files[@]}"; do
    [ -f "$dest/$f" ] || fail "not installed: /$f"
done
for f in "$dest"/$man/*.gz; do gzip -t "$f" || fail "not gzip: $f"; done

rule=$dest/usr/lib/udev/rules.d/60-tq470.rules
grep -Eq '^SUBSYSTEM=="usb", ATTR\{idVendor\}=="16c0", ATTR\{idProduct\}=="0788", TAG\+="uaccess", GROUP="plugdev", MODE="0660"$' "$rule" ||
    fail "the udev rule does not let in the user at the seat and the group plugdev"
desktop-file-validate "$dest"/usr/share/applications/*.desktop || fail "desktop entry"
appstreamcli validate --no-net "$dest"/usr/share/metainfo/*.xml >/dev/null || fail "metainfo"

# Every command and long option tq470-flash lists must complete, and each command's options
# after it; the completion reads them from the tq470-flash it finds on the PATH.
completion=$dest/usr/share/bash-completion/completions/tq470-flash
offered() { # WORD... (the last one being typed)
    PATH=$dest/usr/bin:$PATH bash -c 'source "$0"; COMP_WORDS=(tq470-flash "$@"); COMP_CWORD=$#
        _tq470_flash; printf "%s\n" "${COMPREPLY[@]}"' "$completion" "$@"
}
long_options() { sed -n '/^Options:/,/^$/p' | grep -o -- '--[a-z-]\+'; }
help=$("$dest/usr/bin/tq470-flash" --help)
commands=$(sed -n '/^Commands:/,/^$/s/^  \([a-z0-9-]\+\).*/\1/p' <<<"$help")
completed=$(offered ""; offered -)
for w in $commands $(long_options <<<"$help"); do
    grep -qx -- "$w" <<<"$completed" || fail "completion lacks $w"
done
for c in $commands; do
    completed=$(offered "$c" -)
    for w in $("$dest/usr/bin/tq470-flash" help "$c" | long_options); do
        grep -qx -- "$w" <<<"$completed" || fail "completion of $c lacks $w"
    done
done

# The packages: what each holds, what each depends on, and lintian.
packages=$scratch/packages
cpack -G DEB --config "$build/CPackConfig.cmake" -B "$packages" >"$scratch/cpack.log" 2>&1 ||
    { cat "$scratch/cpack.log" >&2; exit 1; }
tq470_deb=$(echo "$packages"/tq470_*.deb) sim_deb=$(echo "$packages"/tq470-sim_*.deb)
check_deb() { # DEB "DEPENDS PATTERN..." FILE...
    local deb=$1 depends=$2 contents; shift 2
    contents=$(dpkg-deb -c "$deb" | awk '{print $6}')
    for f in "$@"; do grep -qx "\./$f" <<<"$contents" || fail "$(basename "$deb") lacks /$f"; done
    [ "$(grep -c '^\./usr/bin/.' <<<"$contents")" = "$(grep -c '^usr/bin/' <(printf '%s\n' "$@"))" ] ||
        fail "$(basename "$deb") holds other programs"
    for d in $depends; do
        dpkg-deb -f "$deb" Depends | grep -Eq "(^|, )$d( |,|$)" || fail "$(basename "$deb") does not depend on $d"
    done
}
check_deb "$tq470_deb" "libqt6widgets6 libqt6svg6 libusb-0.1-4 libpcap0.8" "${tq470_files[@]}"
check_deb "$sim_deb" "tq470 umockdev libumockdev0" "${sim_files[@]}"
lintian --fail-on error "$tq470_deb" "$sim_deb" >"$scratch/lintian.log" 2>&1 || fail "lintian reports errors"
grep -v 'root privileges' "$scratch/lintian.log" || true
# A first upload closes no bug report; any other warning is ours to mend.
grep '^W: ' "$scratch/lintian.log" | grep -qv ' initial-upload-closes-no-bugs ' &&
    fail "lintian warns"

[ "$failures" = 0 ] && echo "installation and packages: all in place"
exit $((failures > 0))
