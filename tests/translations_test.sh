#!/usr/bin/env bash
# Every translation is complete: lupdate finds no text in the sources that a .ts file lacks, and
# lrelease finds none unfinished. Usage: translations_test.sh SOURCE_DIR LUPDATE LRELEASE
set -euo pipefail
src=$1 lupdate=$2 lrelease=$3
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
status=0
for ts in "$src"/ui/translations/*.ts; do
    cp "$ts" "$work/copy.ts"
    found=$("$lupdate" -locations none -no-obsolete -extensions cpp,h -I "$src" "$src/ui" \
        "$src/platform" "$src/queue" "$src/run" -ts "$work/copy.ts" 2>&1)
    made=$("$lrelease" "$work/copy.ts" -qm "$work/copy.qm" 2>&1)
    if ! grep -q "(0 new and" <<<"$found" || ! grep -q " 0 unfinished)" <<<"$made" ||
        grep -q "untranslated" <<<"$made"; then
        echo "$(basename "$ts") is not complete (ninja update_translations, then translate):"
        echo "$found" "$made"
        status=1
    fi
done
exit $status
