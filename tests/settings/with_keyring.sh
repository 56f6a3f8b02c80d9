#!/bin/sh
# Runs a command in a private D-Bus session with an unlocked GNOME keyring,
# the runtime directory a private temporary one.
set -e
XDG_RUNTIME_DIR=$(mktemp -d)
export XDG_RUNTIME_DIR BRWK_EXPECT_KEYRING=1
trap 'rm -rf "$XDG_RUNTIME_DIR"' EXIT
dbus-run-session -- sh -c 'printf pw | gnome-keyring-daemon --unlock --components=secrets >/dev/null && "$@"' sh "$@"
