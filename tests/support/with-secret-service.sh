#!/bin/sh
# Runs a command with a real Secret Service of its own: a private D-Bus
# session (dbus-run-session) in which gnome-keyring-daemon keeps a new login
# keyring, unlocked with a test password, under temporary home, data and
# runtime folders. The user's own session bus and keyrings are never touched;
# everything ends with the command and the folders are removed.
# The command sees SONVIRA_TEST_SECRET_SERVICE=1.
# Exits 77 (CTest's "skipped") when gnome-keyring-daemon is not installed.
set -eu
if ! command -v gnome-keyring-daemon >/dev/null 2>&1; then
  echo "SKIPPED: gnome-keyring-daemon is not installed, so there is no Secret Service to test against" \
       "(scripts/install-deps installs gnome-keyring)"
  exit 77
fi
if ! command -v dbus-run-session >/dev/null 2>&1; then
  echo "with-secret-service: dbus-run-session is missing (scripts/install-deps installs dbus)" >&2
  exit 1
fi
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT INT TERM
mkdir -p "$scratch/home/.local/share" "$scratch/home/.config" "$scratch/runtime"
chmod 700 "$scratch/runtime"
export HOME="$scratch/home" XDG_DATA_HOME="$scratch/home/.local/share" XDG_CONFIG_HOME="$scratch/home/.config"
export XDG_RUNTIME_DIR="$scratch/runtime" SONVIRA_TEST_SECRET_SERVICE=1
# No X display: nothing may start or reach a bus of the user's desktop.
unset DISPLAY WAYLAND_DISPLAY DBUS_SESSION_BUS_ADDRESS
status=0
dbus-run-session -- sh -c '
  printf %s "sonvira-test-keyring" | gnome-keyring-daemon --unlock --components=secrets --daemonize >/dev/null
  exec "$@"' with-secret-service "$@" || status=$?
exit $status
