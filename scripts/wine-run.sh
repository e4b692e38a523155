#!/usr/bin/env bash
# Runs a Windows executable under 64-bit Wine in the build tree's own prefix; the cross build's emulator.
#
#   wine-run.sh --prefix=DIR PROGRAM.exe [ARGS...]   run PROGRAM in prefix DIR (created on first use)
#   wine-run.sh --prefix=DIR --init                   only make sure the prefix exists
#   wine-run.sh --prefix=DIR --start-server           keep a Wine session running for a test run ...
#   wine-run.sh --prefix=DIR --stop-server            ... and end it
#
# A new prefix costs several seconds and ~700 MB, so it is made once and marked ready; parallel tests wait
# for the first one to finish it. Wine's own debug output and its Mono/Gecko install prompts are turned off.
#
# Why a test run wants --start-server: the first Wine process of a session starts Wine's background services
# (services.exe, winedevice.exe, ...), which inherit that process's standard output. Started inside a test,
# they hold ctest's output pipe open and ctest waits for them (seconds per test, or for ever while a
# persistent server keeps them alive). --start-server starts a persistent server and the services outside
# any test, with their output going nowhere.
set -euo pipefail

wine=${KORVA_WINE:-/usr/lib/wine/wine64}
wineserver=${KORVA_WINESERVER:-/usr/lib/wine/wineserver64}
prefix=
mode=run
while (($#)); do
    case $1 in
    --prefix=*) prefix=${1#--prefix=}; shift ;;
    --init) mode=init; shift ;;
    --start-server) mode=start; shift ;;
    --stop-server) mode=stop; shift ;;
    *) break ;;
    esac
done
if [[ -z "$prefix" ]]; then
    echo "wine-run.sh: --prefix=DIR is required" >&2
    exit 2
fi
if [[ $mode == run && $# == 0 ]]; then
    echo "wine-run.sh: no program to run" >&2
    exit 2
fi

export WINEPREFIX=$prefix
export WINEDEBUG=${KORVA_WINEDEBUG:--all}
export WINEDLLOVERRIDES="mscoree,mshtml="
export WINEARCH=win64

if [[ $mode == stop ]]; then
    [[ -d "$WINEPREFIX" ]] || exit 0
    "$wineserver" -k 2>/dev/null || true
    "$wineserver" -w 2>/dev/null || true
    exit 0
fi

ready_mark=$WINEPREFIX/.korva-prefix-ready
if [[ ! -f "$ready_mark" ]]; then
    mkdir -p "$(dirname "$WINEPREFIX")"
    exec 9>"$WINEPREFIX.lock"
    flock 9
    if [[ ! -f "$ready_mark" ]]; then
        rm -rf "$WINEPREFIX"
        "$wine" wineboot --init </dev/null >/dev/null 2>&1
        # Without a window manager every message box takes ~2 s to close unless Wine manages its own windows.
        "$wine" reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /t REG_SZ /d N /f </dev/null >/dev/null 2>&1
        # The prefix counts as ready once the registry is written out, i.e. the server has ended.
        "$wineserver" -w
        touch "$ready_mark"
    fi
    flock -u 9
    exec 9>&-
fi

case $mode in
init) exit 0 ;;
start)
    "$wineserver" -p </dev/null >/dev/null 2>&1 || true
    # Any program will do; what matters is that the services start here, detached from every test's output.
    "$wine" cmd /c exit </dev/null >/dev/null 2>&1
    exit 0
    ;;
esac
exec "$wine" "$@"
