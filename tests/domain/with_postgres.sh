#!/bin/sh
# Runs a test program against the PostgreSQL server that PGHOST names, or, without one, against a
# throwaway cluster of PostgreSQL 15 that pg_virtualenv starts and removes however the run ends.
if [ -n "${PGHOST:-}" ]; then
    exec "$@"
fi
# The cluster is the run's own, so a test may stop and start it ("15 regress", as pg_virtualenv
# names it) to prove that the stores ride out a restart. -t keeps it in a temporary folder even
# as root, so that runs at the same time (two test programs under ctest -j) never meet on one
# system cluster.
exec pg_virtualenv -t -v 15 env VYR_CLD_TEST_CLUSTER="15 regress" "$@"
