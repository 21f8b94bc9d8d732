#!/usr/bin/env bash
# The desktop accessory end to end, as a user meets it, on a private X display with a compositor
# and a tray, a private D-Bus, a speech service whose audio goes nowhere and twenty feeds served
# from 127.0.0.1: the first start opens the settings window and shows the bubble and the tray
# icon; the launch briefing is spoken; a click on the bubble speaks the story published since;
# the bubble is dragged; "Quit Vardelle" in the tray menu ends it with the bubble's new position
# stored; a second start puts the bubble there; starting it once more opens the settings window
# of the running one, `vardelle brief` is spoken by the running one, forty `vardelle watch` and
# `vardelle feeds` commands at once all store their changes, `vardelle brief --no-speech` prints
# and records a briefing the running one does not speak, SIGTERM ends it, and the
# small bubble chosen in the settings window while it was hidden comes back with its orb in its
# middle and is small again after a restart. Assistive technologies find every control of the
# bubble and the settings window with a role and a name. Hovering the bubble
# shows its tooltip, a double click on it opens the settings window and tells nothing, the media
# keys' MPRIS player plays a briefing (the bubble's menu keeps a readable width while its long
# headline is read), skips to the next story, not past the last, and stops, Ctrl+Q in that
# window quits, and a click while one feed with a cached copy stalls is spoken after the three
# seconds a briefing waits for such a feed, not after the stalled feed's idle limit.
#
# Usage: desktop.sh VARDELLE-BINARY [SCREENSHOT-FOLDER]  (or the folder in VARDELLE_E2E_SHOTS)
# Exit status 77 (skipped) when the X tools are missing.
set -euo pipefail

vardelle=$1
shots=${2:-${VARDELLE_E2E_SHOTS:-}}
for tool in Xvfb xcompmgr trayer xdotool xwininfo import python3 dbus-daemon speech-dispatcher \
    playerctl; do
    command -v "$tool" >/dev/null || { echo "SKIP: $tool is not installed"; exit 77; }
done
# The accessibility check reads the desktop through AT-SPI, with the system's Python bindings.
atspi_python=
for python in python3 /usr/bin/python3; do
    if command -v "$python" >/dev/null && "$python" -c 'import pyatspi' 2>/dev/null; then
        atspi_python=$python
        break
    fi
done
[ -n "$atspi_python" ] || { echo "SKIP: python3-pyatspi is not installed"; exit 77; }

work=$(mktemp -d)
pids=()
cleanup() {
    local status=$?
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
    [ -n "${DBUS_SESSION_BUS_PID:-}" ] && kill "$DBUS_SESSION_BUS_PID" 2>/dev/null || true
    pkill -f "speech-dispatcher.*$work" 2>/dev/null || true
    if [ $status -ne 0 ]; then
        echo "== vardelle's output"; cat "$work/vardelle.log" 2>/dev/null || true
    fi
    [ -n "${VARDELLE_E2E_KEEP:-}" ] && echo "kept: $work" || rm -rf "$work"
    exit $status
}
trap cleanup EXIT

fail() { echo "FAIL: $*"; exit 1; }
# Polls a command for up to $1 seconds, times VARDELLE_E2E_PATIENCE (a whole number, 1 when unset)
# for slower builds such as the sanitizers'.
await() {
    local seconds=$(($1 * ${VARDELLE_E2E_PATIENCE:-1})); shift
    for ((i = 0; i < seconds * 10; i++)); do
        if "$@"; then return 0; fi
        sleep 0.1
    done
    return 1
}
shot() {
    [ -n "$shots" ] || return 0
    mkdir -p "$shots"
    import -window root "$shots/$1.png"
    echo "screenshot: $shots/$1.png"
}

# A zone where it is about noon now, so that "today" holds every story of the run even when it
# starts just before midnight.
export TZ="NOON$(( $(date -u +%-H) - 12 ))"

# Fresh folders: nothing of the user's is read or written.
export HOME=$work/home XDG_CONFIG_HOME=$work/config XDG_DATA_HOME=$work/data \
    XDG_CACHE_HOME=$work/cache XDG_RUNTIME_DIR=$work/runtime
mkdir -p "$HOME" "$XDG_CONFIG_HOME/speech-dispatcher" "$XDG_DATA_HOME" "$XDG_CACHE_HOME"
mkdir -m 700 "$XDG_RUNTIME_DIR"
cat >"$XDG_CONFIG_HOME/speech-dispatcher/speechd.conf" <<'CONF'
AudioOutputMethod "libao"
DefaultModule espeak-ng
AddModule "espeak-ng" "sd_espeak-ng" "espeak-ng.conf"
LogLevel 4
CONF
echo default_driver=null >"$HOME/.libao"
preferences=$XDG_CONFIG_HOME/Vardelle/preferences.json
state=$XDG_DATA_HOME/Vardelle/state.json

# The display, its compositor and its tray.
exec 3>"$work/display"
Xvfb -displayfd 3 -screen 0 1280x800x24 -nolisten tcp >"$work/xvfb.log" 2>&1 &
pids+=($!)
await 10 test -s "$work/display" || fail "Xvfb did not start"
export DISPLAY=:$(head -n1 "$work/display")
xcompmgr >/dev/null 2>&1 &
pids+=($!)
trayer --edge top --align right --widthtype request --height 28 --transparent false \
    --tint 0x303030 >/dev/null 2>&1 &
pids+=($!)

# A private session bus, which also stands in for the system bus.
eval "$(dbus-daemon --session --fork --print-address=1 --print-pid=1 | {
    read -r address; read -r pid
    echo "export DBUS_SESSION_BUS_ADDRESS=$address DBUS_SESSION_BUS_PID=$pid"
})"
export DBUS_SYSTEM_BUS_ADDRESS=$DBUS_SESSION_BUS_ADDRESS

# The feeds: two recent stories in each, served over HTTP; a feed's first story is dated now.
feeds=(cisa-advisories bleepingcomputer thehackernews orvane securityweek darkreading
    helpnetsecurity therecord industrialcyber sans-isc cisa-ics unit42 cisa-news ncsc-uk
    malwarebytes talos securelist checkpoint-research welivesecurity microsoft-security)
write_feed() { # id, then titles; each story is dated minutes ago
    local id=$1; shift
    python3 - "$work/mirror/$id.xml" "$@" <<'PY'
import os, sys, time, email.utils
path, titles = sys.argv[1], sys.argv[2:]
# Each story its own link: stories of different feeds with one link are told as one.
items = "".join(
    f"<item><title>{t}</title><link>https://example.org/{os.path.basename(path)}/{n}</link>"
    f"<guid>{t}</guid>"
    f"<pubDate>{email.utils.formatdate(time.time() - 60 * n, usegmt=True)}</pubDate></item>"
    for n, t in enumerate(titles))
open(path + ".tmp", "w").write(
    f'<?xml version="1.0"?><rss version="2.0"><channel><title>feed</title>{items}</channel></rss>')
os.replace(path + ".tmp", path)
PY
}
mkdir -p "$work/mirror"
for id in "${feeds[@]}"; do write_feed "$id" "First story from $id" "Second story from $id"; done
python3 - "$work/mirror" "$work/slow" >"$work/port" 2>"$work/http.log" <<'PY' &
import http.server, functools, os, sys, time
class Handler(http.server.SimpleHTTPRequestHandler):
    def do_GET(self):  # every answer takes 4 s while the file named second exists
        if os.path.exists(sys.argv[2]):
            time.sleep(4)
        super().do_GET()
handler = functools.partial(Handler, directory=sys.argv[1])
server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), handler)
print(server.server_address[1], flush=True)
server.serve_forever()
PY
pids+=($!)
await 10 test -s "$work/port" || fail "the feed server did not start"
export VARDELLE_FEED_MIRROR=http://127.0.0.1:$(cat "$work/port")

settings_window() { xwininfo -root -tree | grep -q '"Vardelle Settings"'; }
# The running app has ended its start once it answers on the session bus (from its event loop,
# which has sent X what the start asked for: the bubble, and a first run's settings window).
started() {
    await 10 dbus-send --session --print-reply --dest=org.mpris.MediaPlayer2.vardelle \
        /org/mpris/MediaPlayer2 org.freedesktop.DBus.Properties.Get \
        string:org.mpris.MediaPlayer2 string:Identity >/dev/null
}
# Briefings the speech service has reported finished: the shell turns idle after speaking only
# when the speech service reports the end of the utterance.
spoken() {
    grep -o 'state: [a-z]*' "$work/vardelle.log" 2>/dev/null |
        awk '/speaking/ { talking = 1 } /idle/ { if (talking) n++; talking = 0 } END { print n + 0 }'
}
spoken_more_than() { [ "$(spoken)" -gt "$1" ]; }
# A tooltip of vardelle on screen: a mapped window of its own, wide and one line high.
tooltip_shown() {
    local id
    for id in $(xwininfo -root -children | awk '/\("vardelle" "Vardelle"\)/ { print $1 }'); do
        xwininfo -id "$id" | awk '/Width:/ { w = $2 } /Height:/ { h = $2 }
            /Map State: IsViewable/ { v = 1 } END { exit !(v && w > 100 && h < 60) }' && return 0
    done
    return 1
}

# Its widgets are offered to assistive technologies as on a desktop with a screen reader on.
start_vardelle() {
    QT_QPA_PLATFORM=xcb QT_LOGGING_RULES="vardelle.shell.debug=true;vardelle.speech.debug=true" \
        QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1 "$vardelle" >>"$work/vardelle.log" 2>&1 &
    app=$!
}

# 1. First start.
start_vardelle
await 20 settings_window || fail "no settings window on the first run"
bubble() { xwininfo -root -tree | grep -E '"Vardelle": \("vardelle" "Vardelle"\) +182x182' ; }
await 10 bubble >/dev/null || fail "no bubble"
read -r bx by bw bh <<<"$(bubble | awk '{split($NF, p, "+"); split($(NF-1), s, /[x+]/); print p[2], p[3], s[1], s[2]}')"
[ "$bx" -gt 900 ] && [ "$by" -gt 500 ] || fail "the bubble is not in the lower right: $bx,$by"
tray_icon() { xwininfo -root -tree | grep -A12 '"panel": ("panel" "trayer")' | grep -q '"Vardelle"'; }
await 10 tray_icon || fail "no tray icon"

# 1b. Assistive technologies find every control showing, in the bubble and in the settings
#     window, with a role and a name; the bubble is one button named Vardelle that tells its
#     state and can be pressed.
"$atspi_python" - <<'PY' || fail "controls without a role or a name under AT-SPI"
import sys, time
import pyatspi

# Roles a user acts on or reads; a scroll bar is named by what it scrolls, a filler is layout.
controls = {
    pyatspi.ROLE_PUSH_BUTTON, pyatspi.ROLE_TOGGLE_BUTTON, pyatspi.ROLE_CHECK_BOX,
    pyatspi.ROLE_RADIO_BUTTON, pyatspi.ROLE_COMBO_BOX, pyatspi.ROLE_SPIN_BUTTON,
    pyatspi.ROLE_SLIDER, pyatspi.ROLE_TEXT, pyatspi.ROLE_PAGE_TAB, pyatspi.ROLE_LIST,
    pyatspi.ROLE_MENU_ITEM, pyatspi.ROLE_LABEL,
}

def application():
    for _ in range(100):
        for app in pyatspi.Registry.getDesktop(0):
            if app is not None and app.name.lower() == "vardelle":
                return app
        time.sleep(0.1)
    sys.exit("vardelle is not among the AT-SPI applications")

def showing(node, depth=0):
    if node is None or depth > 40:
        return
    if not node.getState().contains(pyatspi.STATE_SHOWING):
        return
    yield node
    for child in node:
        yield from showing(child, depth + 1)

faults = []
windows = {}
for window in application():
    windows[window.name] = window
    for node in showing(window):
        role = node.getRole()
        if role == pyatspi.ROLE_UNKNOWN or (role in controls and not node.name.strip()):
            faults.append(f"{window.name!r}: {node.getRoleName()} {node.name!r}")
for name in ("Vardelle", "Vardelle Settings"):
    if name not in windows:
        faults.append(f"no window {name!r}: {sorted(windows)}")
bubble = windows.get("Vardelle")
if bubble is not None:
    inside = list(showing(bubble))[1:]
    shown = [(n.getRoleName(), n.name) for n in inside]
    if shown != [("push button", "Vardelle")]:
        faults.append(f"the bubble shows {shown}, not one button named Vardelle")
    elif not inside[0].description:
        faults.append("the bubble's button has no description of its state")
    else:
        actions = inside[0].queryAction()
        names = [actions.getName(i) for i in range(actions.nActions)]
        print(f"bubble: {inside[0].description!r}, actions {names}")
        if not any(n.lower() == "press" for n in names):
            faults.append(f"the bubble's button cannot be pressed: {names}")
for fault in faults:
    print(fault)
sys.exit(1 if faults else 0)
PY

# 2. The launch briefing is spoken and stored.
await 60 spoken_more_than 0 || fail "the speech service reported no briefing at launch"
await 10 grep -q "First story from" "$state" || fail "state.json holds no briefing"
shot first-run

# 2b. The pointer resting on the bubble shows its tooltip, though the bubble is never active.
cx=$((bx + bw / 2)) cy=$((by + bh / 2))
xdotool mousemove "$cx" "$cy"
await 5 tooltip_shown || fail "no tooltip over the bubble"
shot tooltip
xdotool mousemove 10 400
tooltip_gone() { ! tooltip_shown; }
await 5 tooltip_gone || fail "the tooltip stayed"

# 3. A new story, then a click on the bubble tells it.
write_feed talos "Fresh exploit hits mail servers" "First story from talos" "Second story from talos"
before=$(spoken)
xdotool mousemove "$cx" "$cy" click 1
await 60 spoken_more_than "$before" || fail "the click gave no briefing"
await 10 grep -q "Fresh exploit hits mail servers" "$state" || fail "the click's briefing lacks the new story"
shot after-click

# 4. Drag the bubble up and to the left, then quit from the tray menu.
xdotool mousemove "$cx" "$cy" mousedown 1 mousemove $((cx - 150)) $((cy - 100)) sleep 0.2 \
    mousemove $((cx - 300)) $((cy - 200)) sleep 0.2 mouseup 1
sleep 0.5
read -r tx ty _ <<<"$(xwininfo -root -tree | grep -A12 '"panel": ("panel" "trayer")' |
    grep '"Vardelle"' | awk '{split($NF, p, "+"); print p[2] + 8, p[3] + 8}')"
xdotool mousemove "$tx" "$ty" click 1
sleep 1
shot status-menu
xdotool key Up Return # the last entry: "Quit Vardelle"
await 10 bash -c "! kill -0 $app 2>/dev/null" || fail "Quit Vardelle did not end the application"
wait "$app" || fail "the application ended with status $?"
python3 - "$preferences" $((bx - 300)) $((by - 200)) <<'PY' || fail "the dragged position was not stored"
import json, sys
prefs = json.load(open(sys.argv[1]))
x, y = int(sys.argv[2]), int(sys.argv[3])
print("stored bubble position:", prefs.get("bubbleFrameX"), prefs.get("bubbleFrameY"))
assert abs(prefs["bubbleFrameX"] - x) <= 2 and abs(prefs["bubbleFrameY"] - y) <= 2
assert prefs["isFirstRun"] is True  # stored negated: the first run is over
PY

# 5. A second start: no settings window, the bubble where it was left; SIGTERM keeps it there.
start_vardelle
await 20 bubble >/dev/null || fail "no bubble on the second start"
read -r nx ny _ <<<"$(bubble | awk '{split($NF, p, "+"); print p[2], p[3]}')"
[ $((nx - (bx - 300))) -ge -2 ] && [ $((nx - (bx - 300))) -le 2 ] &&
    [ $((ny - (by - 200))) -ge -2 ] && [ $((ny - (by - 200))) -le 2 ] ||
    fail "the bubble is at $nx,$ny after a restart"
started || fail "the second start does not answer on the session bus"
! settings_window || fail "the settings window opened again"
shot second-start

# 6. One instance: starting it again opens the running one's settings window, and a briefing
#    asked for in a terminal is spoken by the running one.
QT_QPA_PLATFORM=xcb "$vardelle" >>"$work/vardelle.log" 2>&1 || fail "a second start ended with status $?"
await 10 settings_window || fail "a second start did not open the settings window"
timeout 120 "$vardelle" brief --today >"$work/brief.out" || fail "vardelle brief through the running app: status $?"
grep -q "Here is your security briefing" "$work/brief.out" || fail "vardelle brief printed: $(cat "$work/brief.out")"
kill -0 "$app" || fail "the desktop app is gone"

# 6a. Forty terminal commands at once, through the running app: every one exits 0 and every
#     change is stored; then the same again, undoing them.
concurrently() { # watch-action feeds-action: 20 of each at once, every one must exit 0
    local pids=() n=0
    for id in "${feeds[@]}"; do
        "$vardelle" watch "$1" "TERM$n" >>"$work/concurrent.log" 2>&1 & pids+=($!)
        "$vardelle" feeds "$2" "$id" >>"$work/concurrent.log" 2>&1 & pids+=($!)
        n=$((n + 1))
    done
    for pid in "${pids[@]}"; do
        wait "$pid" || fail "a concurrent command failed: $(cat "$work/concurrent.log")"
    done
}
stored_lists() {
    python3 -c 'import json, sys; p = json.load(open(sys.argv[1]))
print(len([t for t in p.get("watchTerms", []) if t.startswith("TERM")]), len(p.get("disabledFeeds", [])))' \
        "$preferences"
}
concurrently add off
[ "$(stored_lists)" = "20 20" ] || fail "concurrent changes lost: $(stored_lists)"
concurrently remove on
[ "$(stored_lists)" = "0 0" ] || fail "concurrent undoing lost: $(stored_lists)"

# 6c. A text briefing while the app runs: printed and recorded, nothing read aloud; a second one
#     finds nothing new.
write_feed securelist "Told as text only" "First story from securelist"
readings=$(grep -c "reading [0-9]* of" "$work/vardelle.log" || true) said=$(spoken)
timeout 120 "$vardelle" brief --no-speech >"$work/brief.out" ||
    fail "vardelle brief --no-speech through the running app: status $?"
grep -q "Told as text only" "$work/brief.out" || fail "the text briefing printed: $(cat "$work/brief.out")"
grep -q "Told as text only" "$state" || fail "the text briefing was not recorded"
[ "$(grep -c "reading [0-9]* of" "$work/vardelle.log" || true)" -eq "$readings" ] &&
    [ "$(spoken)" -eq "$said" ] || fail "the text briefing was read aloud"
timeout 120 "$vardelle" brief --no-speech >"$work/brief.out" ||
    fail "a second vardelle brief --no-speech: status $?"
grep -q "You are up to date" "$work/brief.out" || fail "a second text briefing printed: $(cat "$work/brief.out")"

# 6b. A Stop while the briefing gathers ends it: nothing is spoken or recorded, so the story is
#     told by the next briefing; a check that then finds nothing new keeps that briefing for
#     Replay.
log_count() { grep -c "$1" "$work/vardelle.log" 2>/dev/null || true; }
status_menu_entry() { # the tray's status menu, then the entry this many places down
    xdotool mousemove "$tx" "$ty" click 1
    sleep 1
    for _ in $(seq "$1"); do xdotool key Down; done
    xdotool key Return
}
touch "$work/slow"
write_feed talos "Late breaking story" "Fresh exploit hits mail servers" "First story from talos"
gathering=$(log_count "state: gathering") idle=$(log_count "state: idle")
speaking=$(log_count "speaking: ")
status_menu_entry 1 # "Announce Latest Headlines"
await 10 bash -c "[ \$(grep -c 'state: gathering' '$work/vardelle.log') -gt $gathering ]" ||
    fail "the menu's announce did not gather"
status_menu_entry 3 # "Stop Speaking"
await 10 bash -c "[ \$(grep -c 'state: idle' '$work/vardelle.log') -gt $idle ]" ||
    fail "Stop did not show idle while gathering"
rm "$work/slow"
[ "$(log_count "speaking: ")" -eq "$speaking" ] || fail "the stopped briefing spoke"
! grep -q "Late breaking story" "$state" || fail "the stopped briefing was recorded"
# The next briefing gathers after the stopped one ended: had that one been heard or recorded,
# this one would find nothing new.
timeout 120 "$vardelle" brief >"$work/brief.out" || fail "vardelle brief after the stop: status $?"
grep -q "Late breaking story" "$work/brief.out" || fail "the stopped story was not told next: $(cat "$work/brief.out")"
timeout 120 "$vardelle" brief >"$work/brief.out" || fail "vardelle brief with nothing new: status $?"
grep -q "You are up to date" "$work/brief.out" || fail "nothing new, yet: $(cat "$work/brief.out")"
grep -q "Late breaking story" "$state" || fail "the check with nothing new emptied the last briefing"
replays=$(log_count "speaking: Here is your security briefing.*Late breaking story")
# With no window manager the settings window, mapped later, lies over the bubble.
xdotool windowraise "$(bubble | awk '{print $1}')"
xdotool mousemove $((nx + 91)) $((ny + 91)) click 3
sleep 1
xdotool key Down Down Down Return # the bubble menu: announce, today, replay
await 10 bash -c "[ \$(grep -c 'speaking: Here is your security briefing.*Late breaking story' '$work/vardelle.log') -gt $replays ]" ||
    fail "Replay after a check with nothing new did not speak the last briefing"
await 60 bash -c "tail -n1 <(grep -o 'state: [a-z]*' '$work/vardelle.log') | grep -q idle" ||
    fail "the replay did not end"

# 7. The bubble resized while hidden: Hide Bubble in the tray menu, "Minimised (small orb)" ticked,
#    a check box at a fixed place in the General tab of the centred window, and Show Bubble: the
#    small bubble keeps its lower-left corner and its orb is drawn in its middle, not round the
#    old centre. The setting holds after a restart.
tray_entry_from_bottom() { # the tray's status menu, then the entry this many places up
    xdotool mousemove "$tx" "$ty" click 1
    sleep 1
    for _ in $(seq "$1"); do xdotool key Up; done
    xdotool key Return
}
viewable() { # the window of the first line on standard input is mapped and viewable
    local id
    id=$(awk 'NR == 1 { print $1 }')
    [ -n "$id" ] && xwininfo -id "$id" | grep -q 'Map State: IsViewable'
}
bubble_hidden() { ! bubble | viewable; }
tray_entry_from_bottom 3 # "Hide Bubble"
await 10 bubble_hidden || fail "Hide Bubble left the bubble on screen"
read -r sx sy <<<"$(xwininfo -name 'Vardelle Settings' |
    awk '/Absolute upper-left X/ { x = $NF } /Absolute upper-left Y/ { y = $NF } END { print x, y }')"
xdotool mousemove $((sx + 37)) $((sy + 359)) click 1
await 10 grep -q '"bubbleCompact": true' "$preferences" || fail "bubbleCompact was not stored"
crop=84x84+$nx+$((ny + 182 - 84))
import -window root -crop "$crop" "$work/under-bubble.ppm"
tray_entry_from_bottom 3 # "Show Bubble"
compact_bubble() { xwininfo -root -tree | grep -E '"Vardelle": \("vardelle" "Vardelle"\) +84x84'; }
compact_bubble_shown() { compact_bubble | viewable; }
await 10 compact_bubble_shown || fail "the bubble did not come back small"
read -r cx cy <<<"$(compact_bubble | awk '{split($NF, p, "+"); print p[2], p[3]}')"
[ "$cx" -eq "$nx" ] && [ "$cy" -eq $((ny + 182 - 84)) ] ||
    fail "the small bubble is at $cx,$cy, not with its lower-left corner at $nx,$((ny + 182))"
sleep 0.5 # a few frames of the orb
import -window root -crop "$crop" "$work/over-bubble.ppm"
python3 - "$work/under-bubble.ppm" "$work/over-bubble.ppm" <<'PY' || fail "the orb is not drawn in the middle of the small bubble"
import sys
def ppm(path):  # binary PPM: width, height and rows of RGB bytes
    data = open(path, "rb").read()
    fields, at = [], 0
    while len(fields) < 4:
        while data[at:at + 1].isspace():
            at += 1
        if data[at:at + 1] == b"#":
            at = data.index(b"\n", at)
            continue
        end = at
        while not data[end:end + 1].isspace():
            end += 1
        fields.append(data[at:end])
        at = end
    assert fields[0] == b"P6" and fields[3] in (b"255", b"65535"), fields
    pixels = data[at + 1:]
    if fields[3] == b"65535":  # two bytes a sample, the high one first
        pixels = pixels[::2]
    return int(fields[1]), int(fields[2]), pixels
w, h, under = ppm(sys.argv[1])
_, _, over = ppm(sys.argv[2])
total = sx = sy = 0
for y in range(h):
    for x in range(w):
        i = (y * w + x) * 3
        change = sum(abs(over[i + k] - under[i + k]) for k in range(3))
        total += change
        sx += change * (x + 0.5)
        sy += change * (y + 0.5)
assert total > 0, "nothing drawn"
cx, cy = sx / total, sy / total
print(f"the orb's pixels centre on {cx:.1f},{cy:.1f} of the {w}x{h} bubble")
assert abs(cx - w / 2) <= 5 and abs(cy - h / 2) <= 5
PY
shot compact
kill -TERM "$app"
wait "$app" || fail "SIGTERM ended the application with status $?"
start_vardelle
await 20 compact_bubble >/dev/null || fail "the bubble is not small after a restart"

# 8. A double click on the bubble opens the settings window; its first click starts a briefing
#    at once, which the second takes back: nothing is spoken, nothing recorded.
write_feed talos "A story no double click tells" "Fresh exploit hits mail servers" "First story from talos"
read -r qx qy <<<"$(compact_bubble | awk '{split($NF, p, "+"); print p[2] + 42, p[3] + 42}')"
started || fail "the restart does not answer on the session bus"
! settings_window || fail "the settings window is open before the double click"
gathers=$(grep -c 'state: gathering' "$work/vardelle.log" || true)
xdotool mousemove "$qx" "$qy" click --repeat 2 --delay 120 1
await 10 settings_window || fail "a double click did not open the settings window"
[ "$(grep -c 'state: gathering' "$work/vardelle.log")" -gt "$gathers" ] ||
    fail "the first click of the double click started no gather"
# The feeds here answer within the double-click interval, and its briefing is not heard before the
# interval has passed; the second click takes it back: it ends, and the shell is idle again.
await 10 bash -c "grep -o 'state: [a-z]*' '$work/vardelle.log' | tail -n1 | grep -q idle" ||
    fail "the double click's first click left a briefing going"
! grep -q "speaking: .*A story no double click tells" "$work/vardelle.log" ||
    fail "the double click's first click was heard"
! grep -q "A story no double click tells" "$state" || fail "the double click's first click was recorded"
shot double-click

# 9. The media keys' way in, MPRIS: Play gives a briefing, read story by story; the bubble's menu
#    keeps a readable width while a long headline is read; Next moves on to the next story at
#    once, and does nothing on the last (the closing is no story); Stop stops, and nothing more
#    is read.
mpris() { # method or property, through the session bus as a desktop's media keys call it
    dbus-send --session --print-reply --dest=org.mpris.MediaPlayer2.vardelle \
        /org/mpris/MediaPlayer2 "$@"
}
player_status() {
    mpris org.freedesktop.DBus.Properties.Get string:org.mpris.MediaPlayer2.Player \
        string:PlaybackStatus | grep -o '"[A-Za-z]*"' | tr -d '"'
}
long_title() { # long enough that the speech service is still at it when the keys arrive
    printf '%s:' "$1"; for _ in $(seq 14); do printf ' a patched gateway was found exposed again'; done
}
write_feed talos "$(long_title "Media key story one")" "$(long_title "Media key story two")" \
    "$(long_title "Media key story three")" "$(long_title "Media key story four")"
mpris org.freedesktop.DBus.Properties.Get string:org.mpris.MediaPlayer2 string:Identity |
    grep -q '"Vardelle"' || fail "no MPRIS player named Vardelle"
[ "$(player_status)" = Stopped ] || fail "the player is not stopped before Play"
mpris org.mpris.MediaPlayer2.Player.Play >/dev/null
await 60 grep -q "reading 2 of [0-9]*: .*Media key story one" "$work/vardelle.log" ||
    fail "Play through MPRIS gave no briefing"
[ "$(player_status)" = Playing ] || fail "the player is not playing during the briefing"
mpris org.freedesktop.DBus.Properties.Get string:org.mpris.MediaPlayer2.Player string:Metadata |
    grep -q "Media key story" || fail "the player's track is not the story being read"
# The widest window of vardelle's on screen that is neither a bubble nor the settings window.
menu_width() {
    local id
    for id in $(xwininfo -root -children | grep -v '"Vardelle Settings"' |
        awk '/\("vardelle" "Vardelle"\)/ { print $1 }'); do
        xwininfo -id "$id" | awk '/Width:/ { w = $2 } /Height:/ { h = $2 }
            /Map State: IsViewable/ { v = 1 } END { if (v && h > 150 && w != h) print w }'
    done | sort -n | tail -n1
}
menu_shown() { [ -n "$(menu_width)" ]; }
xdotool windowraise "$(compact_bubble | awk '{print $1}')"
xdotool mousemove "$qx" "$qy" click 3
await 5 menu_shown || fail "no bubble menu while a story is read"
width=$(menu_width)
shot long-title-menu
xdotool key Escape
echo "the bubble menu is $width px wide while a long headline is read"
[ "$width" -le 640 ] || fail "the bubble menu is $width px wide while a long headline is read"
mpris org.mpris.MediaPlayer2.Player.Next >/dev/null
await 5 grep -q "reading 3 of [0-9]*: .*Media key story two" "$work/vardelle.log" ||
    fail "Next did not move on to the next story"
can_go_next() {
    mpris org.freedesktop.DBus.Properties.Get string:org.mpris.MediaPlayer2.Player \
        string:CanGoNext | grep -o 'boolean [a-z]*' | cut -d' ' -f2
}
playerctl --player=vardelle next
await 5 grep -q "reading 4 of [0-9]*: .*Media key story three" "$work/vardelle.log" ||
    fail "playerctl next did not move on to the next story"
playerctl --player=vardelle next
await 5 grep -q "reading 5 of [0-9]*: .*Media key story four" "$work/vardelle.log" ||
    fail "playerctl next did not move on to the last story"
[ "$(can_go_next)" = false ] || fail "CanGoNext is $(can_go_next) on the last story"
# A client that reads CanGoNext refuses; one that does not asks anyway, and nothing happens.
! playerctl --player=vardelle next 2>/dev/null || fail "playerctl could go on from the last story"
mpris org.mpris.MediaPlayer2.Player.Next >/dev/null
# Whatever the app does on that Next it has done once it next answers on the session bus.
started || fail "the app does not answer on the session bus"
last_reading=$(grep -o "reading [0-9]* of [0-9]*: .\{0,60\}" "$work/vardelle.log" | tail -n1)
case $last_reading in
*"Media key story four"*) ;;
*) fail "Next on the last story went on to: $last_reading" ;;
esac
[ "$(playerctl --player=vardelle status)" = Playing ] || fail "Next on the last story stopped the briefing"
readings=$(log_count "reading [0-9]* of") cancels=$(log_count "the speech service cancelled utterance")
mpris org.mpris.MediaPlayer2.Player.Stop >/dev/null
await 10 bash -c "[ \"\$(grep -o 'state: [a-z]*' '$work/vardelle.log' | tail -n1)\" = 'state: idle' ]" ||
    fail "Stop through MPRIS did not stop the briefing"
[ "$(player_status)" = Stopped ] || fail "the player still plays after Stop"
# The speech service reports the stopped utterance cancelled, not finished: whatever the app
# does on that report it has done once it next answers on the session bus.
await 10 bash -c "[ \$(grep -c 'the speech service cancelled utterance' '$work/vardelle.log') -gt $cancels ]" ||
    fail "the speech service did not report the stopped utterance cancelled"
started || fail "the app does not answer on the session bus"
[ "$(log_count "reading [0-9]* of")" -eq "$readings" ] || fail "the stopped briefing read on"

# 10. Ctrl+Q, which the status menu shows, quits from the settings window too.
xdotool key ctrl+q
await 10 bash -c "! kill -0 $app 2>/dev/null" || fail "Ctrl+Q did not end the application"
wait "$app" || fail "Ctrl+Q ended the application with status $?"

# 11. A click while a feed with a copy stalls is spoken at the three seconds a briefing waits for
#     such feeds, not at the stalled feed's idle limit. The mirror skips the cache, so here two own feeds come
#     from a server of their own, without the mirror, the catalogue's switched off: a briefing
#     in a terminal fills the cache, the copies are made an hour old, and one feed stops
#     answering before the click.
mkdir -p "$work/own"
write_feed own-quick "First story from the quick feed" && mv "$work/mirror/own-quick.xml" "$work/own/quick.xml"
write_feed own-stall "First story from the stalling feed" && mv "$work/mirror/own-stall.xml" "$work/own/stall.xml"
python3 - "$work/own" "$work/stall" >"$work/own-port" 2>"$work/own-http.log" <<'PY' &
import http.server, functools, os, sys, time
class Handler(http.server.SimpleHTTPRequestHandler):
    def do_GET(self):  # /stall.xml says nothing for a minute while the file named second exists
        if self.path == "/stall.xml" and os.path.exists(sys.argv[2]):
            time.sleep(60)
        super().do_GET()
handler = functools.partial(Handler, directory=sys.argv[1])
server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), handler)
print(server.server_address[1], flush=True)
server.serve_forever()
PY
pids+=($!)
await 10 test -s "$work/own-port" || fail "the own feeds' server did not start"
own=http://127.0.0.1:$(cat "$work/own-port")
python3 - "$preferences" "${feeds[@]}" <<'PY' || fail "the preferences could not be changed"
import json, sys
prefs = json.load(open(sys.argv[1]))
prefs["disabledFeeds"] = sys.argv[2:]
prefs["announceOnLaunch"] = False
json.dump(prefs, open(sys.argv[1], "w"))
PY
unset VARDELLE_FEED_MIRROR
"$vardelle" feeds add "$own/quick.xml" >/dev/null || fail "adding the quick own feed failed"
"$vardelle" feeds add "$own/stall.xml" >/dev/null || fail "adding the stalling own feed failed"
timeout 120 "$vardelle" brief --no-speech >"$work/brief.out" || fail "the briefing that fills the cache: status $?"
grep -q "stalling feed" "$work/brief.out" || fail "the own feeds were not told: $(cat "$work/brief.out")"
python3 - "$XDG_CACHE_HOME/Vardelle/feeds.json" <<'PY' || fail "the cached copies could not be aged"
import json, os, sys
path = sys.argv[1]
cache = json.load(open(path))
aged = 0
def age(node):
    global aged
    if isinstance(node, dict):
        if isinstance(node.get("fetched"), (int, float)):
            node["fetched"] -= 7200
            aged += 1
        for value in node.values():
            age(value)
    elif isinstance(node, list):
        for value in node:
            age(value)
age(cache)
assert aged == 2, f"{aged} copies in the cache"
json.dump(cache, open(path + ".tmp", "w"))
os.replace(path + ".tmp", path)
PY
write_feed own-quick "A story told while a feed stalls" "First story from the quick feed" &&
    mv "$work/mirror/own-quick.xml" "$work/own/quick.xml"
touch "$work/stall"
start_vardelle
await 20 compact_bubble >/dev/null || fail "no bubble for the stalled click"
read -r qx qy <<<"$(compact_bubble | awk '{split($NF, p, "+"); print p[2] + 42, p[3] + 42}')"
xdotool windowraise "$(compact_bubble | awk '{print $1}')"
speakings=$(log_count "state: speaking")
started=$(date +%s%N)
xdotool mousemove "$qx" "$qy" click 1
await 30 bash -c "[ \$(grep -c 'state: speaking' '$work/vardelle.log') -gt $speakings ]" ||
    fail "the click while a feed stalls gave no briefing"
waited=$((($(date +%s%N) - started) / 1000000))
echo "the click while a feed stalls spoke after $waited ms"
# Without the wait for copies the briefing would wait for the stalled feed's idle limit, 20 s;
# the bound sits well below that and well above the three seconds, so a loaded machine passes.
bound=$(( ${VARDELLE_E2E_PATIENCE:-1} > 1 ? 15000 : 10000 ))
[ "$waited" -le "$bound" ] || fail "the click while a feed stalls spoke only after $waited ms"
await 30 grep -q "speaking: .*A story told while a feed stalls" "$work/vardelle.log" ||
    fail "the click's briefing lacks the quick feed's new story"
kill -TERM "$app"
wait "$app" || fail "SIGTERM ended the application with status $?"
echo "PASS"
