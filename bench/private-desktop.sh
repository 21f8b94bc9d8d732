# Sourced by the benchmarks that run the accessory itself: a private home, a private X display
# (Xvfb, 1280x800, depth 24), a private session bus that also stands in for the system bus, and a
# speech-dispatcher configuration whose audio goes nowhere. Sets `work` (a temporary folder),
# `pids` (the processes to stop) and an exit trap that stops them and removes the folder.
# Needs xvfb, dbus and speech-dispatcher.

work=$(mktemp -d)
pids=()
cleanup() {
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
    [ -n "${DBUS_SESSION_BUS_PID:-}" ] && kill "$DBUS_SESSION_BUS_PID" 2>/dev/null || true
    pkill -f "speech-dispatcher.*$work" 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT

export HOME=$work/home XDG_CONFIG_HOME=$work/config XDG_RUNTIME_DIR=$work/runtime TZ=UTC
mkdir -p "$HOME" "$XDG_CONFIG_HOME/speech-dispatcher" "$work/mirror"
mkdir -m 700 "$XDG_RUNTIME_DIR"
cat >"$XDG_CONFIG_HOME/speech-dispatcher/speechd.conf" <<'CONF'
AudioOutputMethod "libao"
DefaultModule espeak-ng
AddModule "espeak-ng" "sd_espeak-ng" "espeak-ng.conf"
CONF
echo default_driver=null >"$HOME/.libao"

exec 3>"$work/display"
Xvfb -displayfd 3 -screen 0 1280x800x24 -nolisten tcp >/dev/null 2>&1 &
pids+=($!)
for _ in $(seq 100); do [ -s "$work/display" ] && break; sleep 0.1; done
exec 3>&-
export DISPLAY=:$(head -n1 "$work/display") QT_QPA_PLATFORM=xcb
eval "$(dbus-daemon --session --fork --print-address=1 --print-pid=1 | {
    read -r address; read -r pid
    echo "export DBUS_SESSION_BUS_ADDRESS=$address DBUS_SESSION_BUS_PID=$pid"
})"
export DBUS_SYSTEM_BUS_ADDRESS=$DBUS_SESSION_BUS_ADDRESS
