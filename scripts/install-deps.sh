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
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends $need >/dev/null
fi
