#!/usr/bin/env bash
# Installs the Debian packages the build needs when they are missing.  As root
# it runs apt-get itself; otherwise it prints the command to run.
set -eu
need="cmake g++ make libgtest-dev libgmock-dev libbenchmark-dev libncurses-dev libsqlite3-dev tmux pkg-config"
missing=""
for p in $need; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing="$missing $p"
done
[ -z "$missing" ] && exit 0
if [ "$(id -u)" = 0 ]; then
  echo "bootstrap: installing$missing"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq $missing >/dev/null
else
  echo "bootstrap: missing packages:$missing"
  echo "bootstrap: run: sudo apt-get update && sudo apt-get install -y$missing"
  exit 1
fi
