#!/bin/sh
# Runs a test program against the PostgreSQL server that PGHOST names, or, without one, against a
# throwaway cluster of PostgreSQL 15 that pg_virtualenv starts and removes however the run ends.
if [ -n "${PGHOST:-}" ]; then
    exec "$@"
fi
exec pg_virtualenv -v 15 "$@"
