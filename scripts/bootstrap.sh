#!/usr/bin/env bash
# Installs every Debian package that the build, the tests and the demo need. Idempotent: when all
# packages are present it prints nothing and touches nothing.
set -euo pipefail

packages=(
  build-essential cmake ninja-build g++ ccache pkg-config lld
  libgtest-dev libgmock-dev googletest libbenchmark-dev
  libsystemd-dev
  clang-format clang-tidy cppcheck valgrind
  clang libclang-rt-14-dev
  procps iproute2 psmisc curl
  snmptrapd python3-aiosmtpd socat openssl apache2-utils
  libcpp-httplib-dev libkainjow-mustache-dev nlohmann-json3-dev libssl-dev lighttpd
  libmicrohttpd-dev libgnutls28-dev
  chromium fonts-dejavu-core
  systemd systemd-container python3-prometheus-client
  prometheus
  g++-mingw-w64-x86-64-posix wine64 nsis
  libiscsi-bin sg3-utils qemu-system-x86 qemu-block-extra busybox-static linux-image-amd64 open-iscsi
  rsyslog rsyslog-openssl libcurl4-openssl-dev prometheus-alertmanager
  libsnmp-dev snmp smitools
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

if [ "$(id -u)" -ne 0 ]; then
  echo "bootstrap: missing packages: ${missing[*]} (run as root to install them)" >&2
  exit 1
fi
echo "bootstrap: installing ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive DEBCONF_NOWARNINGS=yes
apt-get update -qq
apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
