#!/usr/bin/env bash
# Builds the module on both platforms (libkorvacredprov.so with the linux preset, KORVACredProvx64.dll with the
# windows preset), checks examples/policies.xml with the policy linter (JSON, then text), asks the example
# domain (examples/corp.ldif) what the logon screen would say to two new passwords, and shows the DLL's export
# table.
set -euo pipefail
exec </dev/null

repo_root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$repo_root"
jobs=${KORVA_JOBS:-2}

bash scripts/install-deps.sh
bash scripts/fetch-third-party.sh build/windows/_third_party

cmake --preset linux
cmake --build --preset linux -j "$jobs" --target korvacredprov korva-policy
cmake --preset windows
cmake --build --preset windows -j "$jobs" --target KORVACredProvx64

# The linter exits non-zero when the example does not load whole, which fails the job.
lint=$repo_root/build/linux/tools/korva-policy
echo
echo "$ korva-policy lint --json examples/policies.xml"
"$lint" lint --json examples/policies.xml
echo
echo "$ korva-policy lint --level Error,Warning examples/policies.xml"
"$lint" lint --level Error,Warning examples/policies.xml

# The same question the logon screen asks, offline: Maria Lopez falls under the Staff policy. The password goes
# in on standard input, never on the command line. The first is accepted (exit 0), the second refused (exit 1,
# a season followed by a year); any other exit code fails the job.
snapshot=(--snapshot examples/corp.ldif --domain corp.example.com --user maria.lopez)
echo
echo "$ printf 'Harbour-Lights-42\\n' | korva-policy test ${snapshot[*]}"
printf 'Harbour-Lights-42\n' | "$lint" test "${snapshot[@]}"
echo
echo "$ printf 'Summer2025\\n' | korva-policy test ${snapshot[*]}"
status=0
printf 'Summer2025\n' | "$lint" test "${snapshot[@]}" || status=$?
if ((status != 1)); then
    echo "korva-policy test: expected exit 1 (refused), got $status" >&2
    exit 1
fi

so=$repo_root/build/linux/credprov/libkorvacredprov.so
dll=$repo_root/build/windows/credprov/KORVACredProvx64.dll
echo
echo "Linux library: $so"
echo "Windows DLL:   $dll"
echo
# objdump -p prints the export table between its heading and the next table's heading.
exports=$(x86_64-w64-mingw32-objdump -p "$dll" |
    awk '/^The Export Tables/ { on = 1 } on && /^(The Function Table|PE File Base Relocations)/ { on = 0 } on')
if [[ -n "$exports" ]]; then
    echo "$exports"
else
    echo "(the DLL has no export table)"
fi
