#!/bin/sh
# wine-run starts a program once more only when Wine failed to start it (nothing on standard
# output, only Wine's own start-up lines on standard error), and lists each such start; a program
# that wrote anything of its own keeps its outcome. The loader here is a stand-in that behaves as
# each case says on its first start and succeeds on the next.
set -u
wine_run=$1
work=$(mktemp -d) || exit 1
trap 'rm -rf "$work"' EXIT
cat >"$work/loader" <<'LOADER'
#!/bin/sh
count=$(cat "$COUNT" 2>/dev/null || echo 0)
echo $((count + 1)) >"$COUNT"
if [ "$count" -gt 0 ]; then echo ran; exit 0; fi
case "$1" in
reset) echo "wine client error:0: recvmsg: Connection reset by peer" >&2; exit 1 ;;
silent) exit 1 ;;
own) echo "the program's own failure" >&2; exit 1 ;;
wrote) echo "first line"; exit 1 ;;
esac
LOADER
chmod +x "$work/loader"
failed=0
# case, expected status, expected starts, expected listed restarts
for row in "reset 0 2 1" "silent 0 2 1" "own 1 1 0" "wrote 1 1 0"; do
    set -- $row
    COUNT="$work/count-$1" VYR_CLD_WINE_RESTARTS="$work/restarts-$1" "$wine_run" "$work/loader" "$work" "$1" \
        >/dev/null 2>&1
    status=$?
    starts=$(cat "$work/count-$1")
    listed=$(cat "$work/restarts-$1" 2>/dev/null | wc -l)
    if [ "$status" != "$2" ] || [ "$starts" != "$3" ] || [ "$listed" != "$4" ]; then
        echo "$1: status $status, $starts starts, $listed listed; expected $2, $3, $4"
        failed=1
    fi
done
exit $failed
