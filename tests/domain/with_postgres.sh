#!/bin/sh
# Runs a test program against the PostgreSQL server that PGHOST names, or, without one, against a
# throwaway cluster of PostgreSQL 15 that pg_virtualenv starts and removes however the run ends.
if [ -n "${PGHOST:-}" ]; then
    exec "$@"
fi
# The cluster is the run's own, so a test may stop and start it ("15 regress", as pg_virtualenv
# names it) to prove that the stores ride out a restart. Runs at the same time (two test programs
# under ctest -j) must never meet: -t keeps each cluster in a temporary folder even as root, and
# each takes a free port of its own, since every such cluster would otherwise pick the first one
# free of its own folder's clusters, the same for all.
port=$("$(dirname "$0")/../../scripts/free-port") || exit 1
exec pg_virtualenv -t -c "-p $port" -v 15 env VYR_CLD_TEST_CLUSTER="15 regress" "$@"
