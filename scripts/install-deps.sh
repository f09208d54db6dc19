#!/bin/sh
# Installs what building and testing need on a fresh Debian machine (run as root); quick when
# everything is already there. With arguments, installs the packages of those list files
# instead (the benchmark script passes build.txt and bench.txt: peer libraries tests never need).
set -eu
need=""
have() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q "install ok installed"; }
dir="$(dirname "$0")/packages.d"
if [ $# -gt 0 ]; then
  lists="$*"
else
  # Each subsystem lists what it needs in its own file under packages.d/.
  lists=$(ls "$dir"/*.txt | grep -v '/bench\.txt$')
fi
for pkg in $(cat $lists | sed 's/#.*//'); do
  have "$pkg" || need="$need $pkg"
done
if [ -n "$need" ]; then
  if [ "$(id -u)" != 0 ]; then
    echo "missing packages:$need (run as root to install them)" >&2
    exit 1
  fi
  echo "installing:$need" >&2
  export DEBIAN_FRONTEND=noninteractive
  sources=""
  case "$need" in *:i386*)
    # 32-bit packages need their architecture. The security suite's i386 index can be out of
    # step with the main one, which fails the update and breaks the install: leave it out.
    dpkg --add-architecture i386
    if [ -f /etc/apt/sources.list.d/debian.sources ]; then
      lists_dir=$(mktemp -d)
      awk 'BEGIN { RS = ""; ORS = "\n\n" } !/-security/' /etc/apt/sources.list.d/debian.sources >"$lists_dir/debian.sources"
      sources="-o Dir::Etc::SourceList=/dev/null -o Dir::Etc::SourceParts=$lists_dir"
    fi
  esac
  apt-get update -qq $sources || echo "apt-get update failed; installing from the package lists at hand" >&2
  apt-get install -y -qq --no-install-recommends $sources $need >/dev/null
fi
