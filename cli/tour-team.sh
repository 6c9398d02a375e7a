#!/usr/bin/env bash
# The tour on a team service: a throwaway PostgreSQL cluster, the server on 127.0.0.1, two users
# of one tenant with their tokens, then the same two-user tour over HTTP. The server and the
# cluster stop however the tour ends.
# Usage: VYR_CLD=path/to/vyr-cld VYR_CLD_SERVER_PROGRAM=path/to/vyr-cld-server tour-team.sh SCRATCH
set -euo pipefail
scratch=${1:?usage: tour-team.sh SCRATCH_FOLDER}
if [[ -z ${PGHOST:-} ]]; then
    # A cluster in a temporary folder, on a port of its own, so that it never meets another run's.
    port=$("$(dirname "$(readlink -f "$0")")/../scripts/free-port")
    exec pg_virtualenv -t -c "-p $port" -v 15 "$0" "$@"
fi
server=${VYR_CLD_SERVER_PROGRAM:-vyr-cld-server}
here=$(dirname "$(readlink -f "$0")")
tour=$here/tour.sh
# shellcheck source=SCRIPTDIR/team-server.sh
source "$here/team-server.sh"
rm -rf "$scratch"
mkdir -p "$scratch/tokens" "$scratch/state"
scratch=$(cd "$scratch" && pwd)
chmod 700 "$scratch/tokens"

printf '== The team service: a database, a tenant, Anna and Bjorn with their tokens\n'
"$server" migrate
"$server" tenant add bridgeworks --name "Bridgeworks"
"$server" user add anna --tenant bridgeworks --name "Anna Berg" --principal anna@example.org
"$server" user add bjorn --tenant bridgeworks --name "Bjorn Dahl" --principal bjorn@example.org
for user in anna bjorn; do
    # The token is shown once, on the first line (the second is its id); it goes straight into a
    # file only its user reads.
    (umask 077 && "$server" token create "$user" | sed -n 1p >"$scratch/tokens/$user")
done
printf '#!/bin/sh\nexec "%s" project grant "$1" "$2" --role member\n' "$server" >"$scratch/grant"
chmod +x "$scratch/grant"

start_team_server "$scratch/server.log"
port=$server_port

export VYR_CLD_SERVER="http://127.0.0.1:$port" VYR_CLD_TOKENS="$scratch/tokens" VYR_CLD_GRANT="$scratch/grant"
# The working folders' journals stay in the scratch folder, not in the user's home.
export XDG_STATE_HOME="$scratch/state"
"$tour" "$scratch/tour"
