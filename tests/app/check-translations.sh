#!/usr/bin/env bash
# Checks that each translation of the window is complete and current:
#
#   tests/app/check-translations.sh LUPDATE SOURCES.lst TS...
#
# Runs lupdate over the window's sources (SOURCES.lst, one file a line) into a copy of each .ts:
# a text the sources no longer hold comes back vanished or obsolete, a text the .ts lacks
# unfinished. Every translation must also keep its source's placeholders (%1, %p), line breaks
# and leading and trailing blanks: the window joins texts by them.
set -euo pipefail
lupdate=$1 sources=$2
shift 2
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
failures=0
for ts in "$@"; do
    copy=$scratch/$(basename "$ts")
    cp "$ts" "$copy"
    "$lupdate" -silent -locations none "@$sources" -ts "$copy" >"$scratch/lupdate.log" 2>&1 ||
        { cat "$scratch/lupdate.log" >&2; exit 1; }
    awk -v file="$(basename "$ts")" '
        function element(tag,    rest) {
            if (!match($0, "<" tag "[^>]*>")) return ""
            rest = substr($0, RSTART + RLENGTH)
            return substr(rest, 1, index(rest, "</" tag ">") - 1)
        }
        function shape(s,    n, out, marks, breaks) {
            for (n = 1; n <= 9; n++) out = out gsub("%" n, "%" n, s) " "
            marks = gsub(/%p/, "%p", s)
            breaks = gsub(/\n/, "\n", s)
            match(s, /^ */); out = out marks " " breaks " " RLENGTH
            match(s, / *$/); return out " " RLENGTH
        }
        function fail(why) { print file ": " why ": " source; failed = 1 }
        BEGIN { RS = "</message>" }
        /<source>/ {
            source = element("source"); translation = element("translation")
            if (match($0, /<translation type="[a-z]+"/))
                fail(substr($0, RSTART + 19, RLENGTH - 20))
            else if (translation == "")
                fail("empty")
            else if (shape(translation) != shape(source))
                fail("placeholders, line breaks or blanks differ")
            ++messages
        }
        END { if (!messages) print file ": no texts"; exit failed || !messages }
    ' "$copy" || failures=$((failures + 1))
done
[ "$failures" = 0 ] && echo "translations: complete and current ($#)"
exit $((failures > 0))
