#!/bin/sh
# Runs a command in a private D-Bus session with an unlocked GNOME keyring,
# the runtime directory a private temporary one. With --locked first, the
# keyring is locked again before the command runs: a write then asks to
# unlock it, and the prompt fails as a cancelled one does (no display).
set -e
locked=
if [ "$1" = --locked ]; then
    locked=1
    shift
fi
XDG_RUNTIME_DIR=$(mktemp -d)
export XDG_RUNTIME_DIR BRWK_EXPECT_KEYRING=1 locked
if [ -n "$locked" ]; then export BRWK_KEYRING_LOCKED=1; fi
trap 'rm -rf "$XDG_RUNTIME_DIR"' EXIT
dbus-run-session -- sh -c '
printf pw | gnome-keyring-daemon --unlock --components=secrets >/dev/null
if [ -n "$locked" ]; then
    gdbus call --session --dest org.freedesktop.secrets --object-path /org/freedesktop/secrets \
        --method org.freedesktop.Secret.Service.Lock "[\"/org/freedesktop/secrets/collection/login\"]" >/dev/null
fi
"$@"' sh "$@"
