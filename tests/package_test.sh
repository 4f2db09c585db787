#!/usr/bin/env bash
# The Debian package: built with CPack from a build tree, unpacked into a scratch root and checked
# (programs, pages, texts, settings only as defaults, the password file's mode, nothing outside
# /opt/kestrova and the unit folder, the control fields), its units checked by systemd-analyze
# verify against the unpacked tree, and its postinst/postrm run in the scratch root (DPKG_ROOT)
# with the account and ownership commands replaced by recorders: fresh settings and rights on the
# first configure, the administrator's settings untouched by the next one, everything gone after
# a purge.
#
# Usage: tests/package_test.sh BUILD_DIR
# Exit: 0 all checks passed; 1 a check failed; 77 every check passed but systemd-analyze is not
# installed (Debian package "systemd"), so the units were not verified.
set -euo pipefail

build=$(cd "${1:?usage: package_test.sh BUILD_DIR}" && pwd)
scratch=$(mktemp -d "${TMPDIR:-/tmp}/kestrova-package.XXXXXX")
trap 'rm -rf "$scratch"' EXIT
failures=0

check() {
  local what=$1
  shift
  if "$@"; then
    printf 'ok      %s\n' "$what"
  else
    printf 'FAILED  %s\n' "$what"
    failures=$((failures + 1))
  fi
}
mode_is() { [ "$(stat -c %a "$1")" = "$2" ]; }
contains() { grep -q -- "$2" "$1"; }

# ---- Build and unpack ----
if ! cpack -G DEB --config "$build/CPackConfig.cmake" -B "$scratch/out" >"$scratch/cpack.log" 2>&1; then
  cat "$scratch/cpack.log"
  echo "FAILED  cpack could not build the package"
  exit 1
fi
deb=$(ls "$scratch"/out/kestrova_*.deb)
root=$scratch/root
prefix=$root/opt/kestrova
dpkg-deb -x "$deb" "$root"
dpkg-deb -e "$deb" "$scratch/control"

check "package name is kestrova" [ "$(dpkg-deb -f "$deb" Package)" = kestrova ]
check "depends on passwd, openssl and the shared libraries" \
  bash -c '[[ "$1" == *passwd* && "$1" == *openssl* && "$1" == *libssl3* && "$1" == *libc6* ]]' _ "$(dpkg-deb -f "$deb" Depends)"

# ---- The tree ----
for program in server qcli www/cgi-bin/cgiloader; do
  check "program $program is executable" [ -x "$prefix/$program" ]
done
for file in mods/Brivo/Brivo.so lib/libbaylink.so db/strings.db db/scsiErrors.db mods/Brivo/EventStrings.db \
  mods/Brivo/StatusStrings.db www/Server/main/index.html www/css/kestrova.css html/Brivo/main/qcli.htm \
  doc/admin-guide.md doc/metrics.md; do
  check "file $file" [ -f "$prefix/$file" ]
done
for folder in temp Information db mods; do
  check "folder $folder" [ -d "$prefix/$folder" ]
done
# The settings belong to the administrator: shipped as defaults only, so an upgrade cannot
# overwrite them.
for file in db/server.ini db/IP.db db/email.ini db/snmp.ini db/syslog.ini db/prefs.ini db/DebugSettings.db \
  db/password.web mods/Brivo/BrivoSettings.ini mods/Brivo/BrivoConfigurations.db; do
  check "settings file $file only as a default" bash -c '[ ! -e "$1/$2" ] && [ -f "$1/defaults/$2" ]' _ "$prefix" "$file"
done
check "default password file has mode 0600" mode_is "$prefix/defaults/db/password.web" 600
check "default password is admin/pinecone" \
  bash -c 'line=$(cat "$1"); [ "$(openssl passwd -apr1 -salt "$(cut -d\$ -f3 <<<"$line")" pinecone)" = "${line#admin:}" ]' \
  _ "$prefix/defaults/db/password.web"
for unit in kestrova-server kestrova-cgiloader; do
  check "unit $unit.service" [ -f "$root/lib/systemd/system/$unit.service" ]
done
stray=$(cd "$root" && find . -type f ! -path './opt/kestrova/*' ! -path './lib/systemd/system/kestrova-*.service')
check "no file outside /opt/kestrova and the units" [ -z "$stray" ]
for script in postinst prerm postrm; do
  check "maintainer script $script" bash -c '[ -x "$1" ] && sh -n "$1"' _ "$scratch/control/$script"
done

# ---- The units against the unpacked tree ----
verified=0
if command -v systemd-analyze >/dev/null; then
  # The root needs the system's own units (targets the services are ordered against).
  cp -an /lib/systemd/system/. "$root/lib/systemd/system/" 2>/dev/null || true
  for unit in kestrova-server kestrova-cgiloader; do
    output=$(systemd-analyze verify --root="$root" "$root/lib/systemd/system/$unit.service" 2>&1) && status=0 || status=$?
    [ -n "$output" ] && printf '%s\n' "$output"
    check "systemd-analyze verify $unit.service" [ "$status" -eq 0 -a -z "$output" ]
  done
  verified=1
else
  echo "SKIP    systemd-analyze is not installed (Debian package systemd): units not verified"
fi

# ---- Maintainer scripts in the scratch root ----
shims=$scratch/shims
mkdir -p "$shims"
for command in getent groupadd useradd chown chgrp systemctl; do
  # getent finds no account (exit 2), so the scripts create it; the others only record.
  cat >"$shims/$command" <<EOF
#!/bin/sh
echo "$command \$*" >>"$scratch/commands.log"
[ "$command" = getent ] && exit 2
exit 0
EOF
  chmod +x "$shims/$command"
done
run_script() { DPKG_ROOT="$root" PATH="$shims:$PATH" sh "$scratch/control/$1" "${@:2}"; }

run_script postinst configure ""
check "postinst creates the system group and user" \
  bash -c 'grep -q "^groupadd --system kestrova" "$1" && grep -q "^useradd --system --gid kestrova" "$1"' _ \
  "$scratch/commands.log"
check "postinst puts the default settings in place" [ -f "$prefix/db/server.ini" -a -f "$prefix/mods/Brivo/BrivoSettings.ini" ]
check "password file mode 0600" mode_is "$prefix/db/password.web" 600
check "the first install generates the password, for root only" mode_is "$root/etc/kestrova/initial-admin-password" 600
check "the password file holds the generated password, not the default" \
  bash -c 'line=$(cat "$1"); pw=$(cat "$2"); salt=$(cut -d\$ -f3 <<<"$line");
    [ "$(openssl passwd -apr1 -salt "$salt" "$pw")" = "${line#admin:}" ] &&
    [ "$(openssl passwd -apr1 -salt "$salt" pinecone)" != "${line#admin:}" ]' \
  _ "$prefix/db/password.web" "$root/etc/kestrova/initial-admin-password"
generated=$(cat "$prefix/db/password.web")
check "password file owned by the front end's account" contains "$scratch/commands.log" "chown kestrova:kestrova $prefix/db/password.web"
check "settings not readable by others" mode_is "$prefix/db/server.ini" 640
check "secrets (mail login, SNMP community) for the owner only" \
  bash -c '[ "$(stat -c %a "$1")" = 600 ] && [ "$(stat -c %a "$2")" = 600 ]' _ "$prefix/db/email.ini" "$prefix/db/snmp.ini"
check "db/ hands its group to new files" mode_is "$prefix/db" 2750
check "temp/ writable by the front end's group" mode_is "$prefix/temp" 2770
check "no service manager call inside a scratch root" bash -c '! grep -q "^systemctl" "$1"' _ "$scratch/commands.log"

echo "SmtpServer = mail.example.com" >>"$prefix/db/email.ini"
rm "$prefix/db/snmp.ini"
run_script postinst configure 0.1.0
check "an upgrade keeps the administrator's settings" contains "$prefix/db/email.ini" "mail.example.com"
check "an upgrade restores a missing settings file" [ -f "$prefix/db/snmp.ini" ]
check "an upgrade keeps the password" [ "$(cat "$prefix/db/password.web")" = "$generated" ]

run_script prerm remove
run_script postrm remove
check "postrm remove keeps the settings" [ -f "$prefix/db/email.ini" ]
run_script postrm purge
check "postrm purge removes the tree" [ ! -e "$prefix" ]
check "postrm purge removes the generated password" [ ! -e "$root/etc/kestrova/initial-admin-password" ]

if [ "$failures" -ne 0 ]; then
  echo "$failures check(s) failed"
  exit 1
fi
[ "$verified" -eq 1 ] || exit 77
echo "all checks passed"
