#!/usr/bin/env bash
# Installs the Debian packages that the build presets (linux, linux-asan, windows), the Wine test runs, the
# fuzzers and the benchmarks need. Idempotent and non-interactive: asks apt only when something is missing.
set -euo pipefail

packages=(
    # native build and the sanitizer build
    build-essential cmake ninja-build pkg-config git
    # libraries of the Linux build, test and benchmark frameworks
    libpcre2-dev libpugixml-dev googletest libgtest-dev libgmock-dev libbenchmark-dev
    # the tools' tests read JSON with it (header-only; the Windows test build uses the same headers)
    nlohmann-json3-dev
    # the LDAP client (OpenLDAP) with Kerberos for SASL GSSAPI binds
    libldap-dev libsasl2-modules-gssapi-mit
    # fuzzing (libFuzzer comes with clang's runtime)
    clang clang-14 libclang-rt-14-dev llvm-14
    # Windows cross build; dpkg-dev, tar and gzip for fetching and unpacking the third-party sources
    g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64 mingw-w64-x86-64-dev
    dpkg-dev tar gzip xz-utils
    # running the Windows programs, with a virtual display for window tests
    wine wine64 xvfb xauth
    # the directory integration tests: a Samba AD domain controller in a network namespace, LDAP tools
    samba samba-ad-dc samba-ad-provision winbind krb5-user ldap-utils ldb-tools iproute2
)

# One dpkg-query for all; a package dpkg has never heard of is simply absent from the answer.
installed=$(dpkg-query -W -f='${Package} ${Status}\n' "${packages[@]}" 2>/dev/null |
    awk '$NF == "installed" && $(NF-1) == "ok" { sub(/:.*/, "", $1); print $1 }' || true)
missing=()
for package in "${packages[@]}"; do
    grep -qx -- "$package" <<<"$installed" || missing+=("$package")
done

if ((${#missing[@]} == 0)); then
    echo "install-deps: all ${#packages[@]} packages present"
    exit 0
fi

echo "install-deps: installing ${missing[*]}"
sudo=()
if [[ $(id -u) != 0 ]]; then
    if ! command -v sudo >/dev/null; then
        echo "install-deps: missing packages and not root; install them as root: ${missing[*]}" >&2
        exit 1
    fi
    sudo=(sudo -n)
fi
export DEBIAN_FRONTEND=noninteractive
"${sudo[@]}" apt-get update -q
"${sudo[@]}" apt-get install -y -q --no-install-recommends "${missing[@]}" </dev/null
