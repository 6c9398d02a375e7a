#!/usr/bin/env bash
# Runs the Windows program VYR_CLD_WINDOWS_PROGRAM under the emulator VYR_CLD_EMULATOR (its
# words, as CMake's CMAKE_CROSSCOMPILING_EMULATOR has them) with this script's arguments, so that
# a shell script may call it as it calls a Linux program (tour.sh as VYR_CLD). Windows' text mode
# ends lines with CR LF; the CRs go, as the scripts read lines the Linux way.
set -o pipefail
# shellcheck disable=SC2086 # the emulator is a list of words
$VYR_CLD_EMULATOR "$VYR_CLD_WINDOWS_PROGRAM" "$@" | tr -d '\r'
