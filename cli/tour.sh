#!/usr/bin/env bash
# A short tour of the local service through vyr-cld: two users, each in their own processes,
# share a project in a fresh scratch folder. Usage: VYR_CLD=path/to/vyr-cld tour.sh SCRATCH
# On a team service instead (tour-team.sh sets these): VYR_CLD_SERVER is its URL, VYR_CLD_TOKENS a
# folder with each user's token file, and VYR_CLD_GRANT a command that gives a user a project.
set -euo pipefail
vyr=${VYR_CLD:-vyr-cld}
scratch=${1:?usage: tour.sh SCRATCH_FOLDER}
rm -rf "$scratch"
mkdir -p "$scratch"
cd "$scratch"

step() { printf '\n== %s\n' "$*"; }
# Runs vyr-cld as the user whose working folder is $1, showing the command first.
as() {
    local user=$1
    shift
    printf '%s$ vyr-cld %s\n' "$user" "$*"
    "$vyr" -C "$user" "$@"
}

if [[ -n ${VYR_CLD_SERVER:-} ]]; then
    step "Anna and Bjorn each get a working folder on the team service"
    for user in anna bjorn; do
        "$vyr" init "$user" --server "$VYR_CLD_SERVER" --token-file "$VYR_CLD_TOKENS/$user"
    done
else
    step "Anna and Bjorn each get a working folder on one store"
    "$vyr" init anna --store store --user anna --name "Anna Berg" --principal anna@example.org
    "$vyr" init bjorn --store store --user bjorn --name "Bjorn Dahl" --principal bjorn@example.org
fi

step "Anna creates a project with a partition and puts revision 1 of the plan in it"
created=$(as anna project create Bridge --number P-100)
printf '%s\n' "$created"
if [[ -n ${VYR_CLD_GRANT:-} ]]; then
    # On a team service a project is its creator's until shared. A Windows vyr-cld ends its
    # lines with CR LF.
    "$VYR_CLD_GRANT" bjorn "$(sed -n 's/^created project .* (\([0-9a-f]*\))$/\1/p' <<<"${created//$'\r'/}")"
fi
as anna partition create --project Bridge Drawings
as anna use Bridge Drawings
printf 'plan, revision 1\n' >anna/plan.txt
as anna upload plan.txt

step "Bjorn selects the same project and syncs"
as bjorn use Bridge Drawings
as bjorn sync --wait --timeout 10

step "Anna locks the plan; Bjorn is refused and told who holds it"
as anna lock plan.txt
status=0
refusal=$(as bjorn lock plan.txt 2>&1) || status=$?
printf '%s\n(exit status %d)\n' "$refusal" "$status"
if ((status != 1)) || ! grep -q "(409).*Anna Berg" <<<"$refusal"; then
    echo "tour: Bjorn's lock should have been refused with 409, naming Anna" >&2
    exit 1
fi

step "Anna writes revision 2 (a few megabytes, so that progress shows), uploads it and unlocks"
{
    printf 'plan, revision 2\n'
    head -c 8000000 /dev/zero | tr '\0' '.'
} >anna/plan.txt
as anna upload plan.txt
as anna unlock plan.txt
as anna status plan.txt

step "Bjorn's sync brings revision 2; the status events it posted are listed"
as bjorn sync --wait --timeout 30
cmp anna/plan.txt bjorn/plan.txt
as bjorn status plan.txt
as bjorn events

printf '\nTour done: the store and both working folders are in %s\n' "$PWD"
