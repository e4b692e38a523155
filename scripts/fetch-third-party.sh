#!/usr/bin/env bash
# Downloads and unpacks the third-party sources that the Windows cross build compiles itself: the upstream
# tarballs of Debian bookworm's pcre2 and pugixml source packages, the same versions the Linux build links.
#
# Usage: scripts/fetch-third-party.sh [DEST]      (DEST defaults to build/windows/_third_party)
#
# apt runs with a private configuration inside DEST (its own source list, package lists and cache), so the
# machine's apt setup is neither needed nor changed. Safe to run again: unpacked sources are kept.
set -euo pipefail

repo_root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
dest=${1:-$repo_root/build/windows/_third_party}
mirror=${KORVA_DEBIAN_MIRROR:-http://deb.debian.org/debian}

# source package, upstream version (must match the Debian packages the Linux build uses)
packages=(
    "pcre2 10.42"
    "pugixml 1.13"
)

mkdir -p "$dest"
dest=$(cd "$dest" && pwd)

all_present=1
for entry in "${packages[@]}"; do
    read -r name version <<<"$entry"
    [[ -f "$dest/src/$name-$version/.unpacked" ]] || all_present=0
done
if ((all_present)); then
    echo "fetch-third-party: sources already present in $dest/src"
    exit 0
fi

apt_dir=$dest/apt
mkdir -p "$apt_dir/lists/partial" "$apt_dir/cache/archives/partial" "$apt_dir/sources.list.d" \
    "$dest/downloads" "$dest/src"
echo "deb-src $mirror bookworm main" >"$apt_dir/sources.list"

apt_options=(
    -o "Dir::Etc::SourceList=$apt_dir/sources.list"
    -o "Dir::Etc::SourceParts=$apt_dir/sources.list.d"
    -o "Dir::State::Lists=$apt_dir/lists"
    -o "Dir::Cache=$apt_dir/cache"
    -o "APT::Sandbox::User=root"
    -o "Acquire::Retries=3"
    -q
)
if [[ $(id -u) != 0 ]]; then
    # Without root apt cannot switch to its sandbox user; the files live in the caller's tree anyway.
    apt_options+=(-o "APT::Sandbox::User=$(id -un)")
fi

echo "fetch-third-party: updating the private source list ($mirror bookworm main)"
apt-get "${apt_options[@]}" update

for entry in "${packages[@]}"; do
    read -r name version <<<"$entry"
    target=$dest/src/$name-$version
    [[ -f "$target/.unpacked" ]] && continue

    tarball=$(find "$dest/downloads" -maxdepth 1 -name "${name}_${version}.orig.tar.*" ! -name '*.asc' | head -n1)
    if [[ -z "$tarball" ]]; then
        echo "fetch-third-party: downloading the $name source package"
        (cd "$dest/downloads" && apt-get "${apt_options[@]}" source --download-only "$name")
        tarball=$(find "$dest/downloads" -maxdepth 1 -name "${name}_${version}.orig.tar.*" ! -name '*.asc' | head -n1)
    fi
    if [[ -z "$tarball" ]]; then
        echo "fetch-third-party: no ${name}_${version}.orig tarball in $dest/downloads" >&2
        echo "fetch-third-party: bookworm's $name source package no longer has upstream version $version" >&2
        exit 1
    fi

    rm -rf "$target" "$target.tmp"
    mkdir -p "$target.tmp"
    tar -xf "$tarball" -C "$target.tmp" --strip-components=1
    touch "$target.tmp/.unpacked"
    mv "$target.tmp" "$target"
    echo "fetch-third-party: unpacked $(basename "$tarball") into $target"
done
