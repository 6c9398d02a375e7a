#!/bin/sh
# Runs a test program with a team world keeper beside it: KEEPER SERVER-PROGRAM COMMAND...
# Started inside a PostgreSQL cluster (tests/domain/with_postgres.sh), the keeper's address goes
# to the program as VYR_CLD_KEEPER; the keeper, and every server it started, is stopped however
# the program ends.
set -u
keeper=$1
server=$2
shift 2
out=$(mktemp /tmp/vyr-cld-keeper.XXXXXX) || exit 1
"$keeper" "$server" >"$out" &
pid=$!
stop() {
    kill -TERM "$pid" 2>/dev/null
    # Bounded: a keeper that does not end on its own in 10 s is killed, and its servers with it.
    for _ in $(seq 100); do
        kill -0 "$pid" 2>/dev/null || break
        sleep 0.1
    done
    kill -KILL "$pid" 2>/dev/null
    wait "$pid" 2>/dev/null
    rm -f "$out"
}
trap stop EXIT
trap 'exit 130' INT
trap 'exit 143' TERM
address=
for _ in $(seq 300); do
    address=$(sed -n 's/^listening on //p' "$out")
    [ -n "$address" ] && break
    kill -0 "$pid" 2>/dev/null || break
    sleep 0.1
done
if [ -z "$address" ]; then
    echo "the team world keeper did not start" >&2
    exit 1
fi
VYR_CLD_KEEPER=$address "$@"
