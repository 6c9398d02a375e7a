# shellcheck shell=bash
# Sourced by the scripts that run a team server of their own (bash). start_team_server LOG starts
# $server (vyr-cld-server) on 127.0.0.1 on a port the system picks, with its output in LOG, stops
# it however the script ends, and waits at most 30 seconds for the port, which it leaves in
# $server_port.
start_team_server() {
    local log=$1
    # shellcheck disable=SC2154 # the caller names the program
    "$server" serve --listen 127.0.0.1:0 >"$log" 2>&1 &
    server_pid=$!
    trap 'kill "$server_pid" 2>/dev/null || true; wait "$server_pid" 2>/dev/null || true' EXIT
    server_port=
    for _ in $(seq 300); do
        server_port=$(sed -n 's/^listening on .*:\([0-9][0-9]*\)$/\1/p' "$log" | head -n 1)
        if [[ -n $server_port ]] || ! kill -0 "$server_pid" 2>/dev/null; then
            break
        fi
        sleep 0.1
    done
    if [[ -z $server_port ]]; then
        echo "the server did not start" >&2
        cat "$log" >&2
        return 1
    fi
    printf 'the server listens on 127.0.0.1:%s\n' "$server_port"
}
