#!/usr/bin/env bash
# Runs the product: builds it, installs it into a fresh instance folder and starts the server in
# the console. Stop it with Ctrl+C.
# Usage: scripts/demo.sh [instance folder] [debug options...]
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/bootstrap.sh
instance=${1:-$PWD/instance}
shift || true

cmake --preset default >/dev/null
cmake --build --preset default -j "$(nproc)" --target server
rm -rf "$instance"
cmake --install build --prefix "$instance" >/dev/null
echo "Instance installed in $instance"
cd "$instance"
# The demo stays on this machine: check-ins go out of the loopback interface only unless the
# caller names the addresses to use.
export KESTROVA_NET_ADDRESSES=${KESTROVA_NET_ADDRESSES:-127.0.0.1}
exec ./server -debug "$@"
