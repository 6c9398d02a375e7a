#!/usr/bin/env bash
# The web pages in a headless Chromium: a throwaway PostgreSQL cluster, the server on 127.0.0.1,
# two tenants (Bridgeworks with Anna and Bjorn, Harbour with Cora) and their tokens, then the
# scenarios under node's test runner. The server and the cluster stop however the run ends; the
# screenshots stay in OUTPUT/screenshots.
# Usage: VYR_CLD=path/to/vyr-cld VYR_CLD_SERVER_PROGRAM=path/to/vyr-cld-server run.sh OUTPUT [FILE.test.js...]
# (without files, every scenario file of this folder).
set -euo pipefail
output=${1:?usage: run.sh OUTPUT_FOLDER [FILE.test.js...]}
here=$(dirname "$(readlink -f "$0")")

# Node's test runner takes the options below from version 20 on.
if ! node -e 'process.exit(Number(process.versions.node.split(".")[0]) >= 20 ? 0 : 1)' 2>/dev/null; then
    echo "browser tests: node.js 20 or later is needed" >&2
    exit 1
fi
chromium=${CHROMIUM:-/usr/bin/chromium}
[[ -x $chromium ]] || { echo "browser tests: no Chromium at $chromium (scripts/install-deps --web)" >&2; exit 1; }
# The packages the lockfile names, again whenever it changed since the last install.
if [[ ! -f $here/node_modules/.package-lock.json || $here/package-lock.json -nt $here/node_modules/.package-lock.json ]]; then
    (cd "$here" && timeout 300 npm ci --no-audit --no-fund)
fi
if [[ -z ${PGHOST:-} ]]; then
    # A cluster in a temporary folder, on a port of its own, so that it never meets another run's.
    port=$("$here/../../scripts/free-port")
    exec pg_virtualenv -t -c "-p $port" -v 15 "$0" "$@"
fi

# The programs by absolute paths: the scenarios run from this folder.
absolute() {
    local found
    found=$(command -v "$1") || { echo "browser tests: no program $1" >&2; return 1; }
    readlink -f "$found"
}
server=$(absolute "${VYR_CLD_SERVER_PROGRAM:-vyr-cld-server}")
VYR_CLD=$(absolute "${VYR_CLD:-vyr-cld}")
export VYR_CLD VYR_CLD_SERVER_PROGRAM=$server
# shellcheck source=SCRIPTDIR/../../cli/team-server.sh
source "$here/../../cli/team-server.sh"
rm -rf "$output/scratch" "$output/screenshots"
mkdir -p "$output/scratch/tokens" "$output/scratch/state" "$output/screenshots"
output=$(cd "$output" && pwd)
scratch=$output/scratch
chmod 700 "$scratch/tokens"

"$server" migrate
"$server" tenant add bridgeworks --name "Bridgeworks"
"$server" user add anna --tenant bridgeworks --name "Anna Berg" --principal anna@example.org
"$server" user add bjorn --tenant bridgeworks --name "Bjorn Dahl" --principal bjorn@example.org
"$server" tenant add harbour --name "Harbour Works"
"$server" user add cora --tenant harbour --name "Cora Lind" --principal cora@example.org
for user in anna bjorn cora; do
    (umask 077 && "$server" token create "$user" | sed -n 1p >"$scratch/tokens/$user")
done

start_team_server "$scratch/server.log"
port=$server_port

export VYR_WEB_URL="http://127.0.0.1:$port" VYR_WEB_SCRATCH=$scratch VYR_WEB_SCREENSHOTS=$output/screenshots
# The working folders' journals stay in the scratch folder, not in the user's home.
export XDG_STATE_HOME="$scratch/state"
cd "$here"
shift
files=("$@")
if ((${#files[@]} == 0)); then
    files=(./*.test.js)
fi
status=0
# One file at a time: each drives its own Chromium, and the machine may have few cores. The
# summary goes to standard output, where the build's log keeps it.
node --test --test-concurrency=1 --test-timeout=120000 --test-reporter=tap --test-reporter-destination=stdout \
    "${files[@]}" || status=$?
if ((status != 0)); then
    printf '\nThe server log (%s):\n' "$scratch/server.log" >&2
    tail -n 40 "$scratch/server.log" >&2
fi
printf 'screenshots: %s\n' "$output/screenshots"
exit "$status"
