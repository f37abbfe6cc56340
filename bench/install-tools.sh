#!/bin/sh
# Installs what `make bench` needs (the peers du, ncdu and gdu, hyperfine, strace, GNU time and
# Google Benchmark, besides the build tools), when run as root and something is missing. Quiet
# when everything is present.
need=""
have() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q "install ok installed"; }
for p in cmake g++ make python3 coreutils ncdu gdu hyperfine strace time libbenchmark-dev; do
  have "$p" || need="$need $p"
done
[ -z "$need" ] && exit 0
if [ "$(id -u)" != 0 ]; then
  echo "missing packages:$need (run 'make bench' as root to install them)" >&2
  exit 1
fi
echo "installing:$need"
export DEBIAN_FRONTEND=noninteractive
apt-get update -qq >/dev/null
apt-get install -y -qq --no-install-recommends $need >/dev/null || exit 1
