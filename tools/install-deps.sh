#!/bin/sh
# Installs Debian packages when run as root and something is missing; quiet when everything is
# present. Without arguments: what the build and the tests need. With arguments: a target name
# for the message, then the packages (make bench passes its own list).
if [ $# -gt 0 ]; then
  target="$1"; shift
  packages="$*"
else
  target=test
  packages="cmake g++ make googletest libgtest-dev mingw-w64 g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix wine wine32:i386 wine64 tmux python3 dpkg-dev groff-base clang libclang-rt-14-dev sqlite3 unicode-data rapidjson-dev ncdu gdu chromium chromium-driver python3-selenium"
fi
need=""
have() {
  case "$(dpkg-query -W -f='${Status}' "$1" 2>/dev/null)" in *"install ok installed"*) return 0 ;; esac
  return 1
}
for p in $packages; do
  have "$p" || need="$need $p"
done
[ -z "$need" ] && exit 0
if [ "$(id -u)" != 0 ]; then
  echo "missing packages:$need (run 'make $target' as root to install them)" >&2
  exit 1
fi
if ! command -v apt-get >/dev/null 2>&1; then
  echo "missing packages:$need (install them with this system's package manager)" >&2
  exit 1
fi
echo "installing:$need"
export DEBIAN_FRONTEND=noninteractive
case "$need" in *wine32*) dpkg --add-architecture i386 ;; esac
apt-get update -qq >/dev/null 2>&1
apt-get install -y -qq --no-install-recommends $need >/dev/null && exit 0
# A mirror caught mid-sync can serve one architecture's index of a suite and not the other's
# (seen with bookworm-security's i386 index): the i386 libraries wine32 needs then find no
# version matching their amd64 twins. Debian's main suites alone are consistent across
# architectures, so the install is tried once more from them.
echo "install failed; trying again from Debian's main suites alone"
lists=$(mktemp -d)
cat > "$lists/main.sources" <<EOF
Types: deb
URIs: http://deb.debian.org/debian
Suites: bookworm bookworm-updates
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg
EOF
only_main="-o Dir::Etc::SourceList=/dev/null -o Dir::Etc::SourceParts=$lists"
apt-get $only_main update -qq >/dev/null 2>&1
apt-get $only_main install -y -qq --no-install-recommends --allow-downgrades $need >/dev/null
status=$?
rm -rf "$lists"
apt-get update -qq >/dev/null 2>&1
exit $status
