#!/usr/bin/env bash
# The files that velmora-server's table of options makes, as they are kept in
# the sources: the service's settings file, the unit's settings for a
# missing one, and the table of limits in docs/deployment.md. Each must be
# what the server prints now; a difference is shown line by line.
set -uo pipefail
server=$1 source=$2 failed=0
settings=$(timeout 10 "$server" --print-settings-file) || { echo "FAIL: velmora-server --print-settings-file"; exit 1; }
table=$(timeout 10 "$server" --print-limits-table) || { echo "FAIL: velmora-server --print-limits-table"; exit 1; }
diff -u --label packaging/velmora-server.default --label "velmora-server --print-settings-file" \
    "$source/packaging/velmora-server.default" <(printf '%s\n' "$settings") || failed=1
# The table stands in the guide from its header to the first blank line.
diff -u --label "docs/deployment.md, table of limits" --label "velmora-server --print-limits-table" \
    <(awk '/^\| option \| default \|/ { on = 1 } on && /^$/ { exit } on' "$source/docs/deployment.md") \
    <(printf '%s\n' "$table") || failed=1
unit=$(grep '^Environment=VELMORA_LISTEN' "$source/packaging/velmora-server.service.in")
expected="Environment=$(printf '%s\n' "$settings" | grep -E '^VELMORA_(LISTEN|PORT|DB)=' | paste -sd' ')"
[ "$unit" = "$expected" ] || { printf 'packaging/velmora-server.service.in says\n  %s\nthe settings file says\n  %s\n' "$unit" "$expected"; failed=1; }
[ $failed = 0 ] && echo "option files ok"
exit $failed
