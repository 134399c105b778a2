#!/usr/bin/env bash
# Installs every build, test and demo dependency on Debian 12. Idempotent, non-interactive.
set -euo pipefail
cd "$(dirname "$0")/.."

SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO="sudo"
export DEBIAN_FRONTEND=noninteractive

packages=(
  build-essential cmake pkg-config git ca-certificates
  libmosquitto-dev mosquitto mosquitto-clients
  libsqlitecpp-dev libsqlite3-dev sqlite3
  nlohmann-json3-dev libspdlog-dev libfmt-dev duktape-dev
  googletest libgtest-dev libgmock-dev libbenchmark-dev
  clang libclang-rt-dev
  iproute2 util-linux procps psmisc tshark
  nodejs npm
)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
# nodejs from another source (nodesource) ships npm itself: do not ask for Debian's npm then.
if command -v npm >/dev/null 2>&1; then
  missing=("${missing[@]/npm}")
fi
if command -v node >/dev/null 2>&1; then
  missing=("${missing[@]/nodejs}")
fi
read -r -a missing <<<"${missing[*]}"
if [ "${#missing[@]}" -gt 0 ]; then
  echo "install-deps: installing ${missing[*]}"
  echo "wireshark-common wireshark-common/install-setuid boolean false" | $SUDO debconf-set-selections
  $SUDO apt-get update -q
  $SUDO apt-get install -y -q --no-install-recommends "${missing[@]}"
fi

# The device simulator of the end-to-end tests (npm registry, pinned by its lock file).
if [ ! -d tests/sim/node_modules/@bacnet-js/client ]; then
  (cd tests/sim && npm ci --no-audit --no-fund --loglevel=error)
fi
echo "install-deps: done"
