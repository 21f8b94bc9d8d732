#!/usr/bin/env bash
# Own feeds and the watch list end to end, from the command line: feeds served from 127.0.0.1,
# one of the user's own added with `vardelle feeds add` (and a broken address refused), terms
# added with `vardelle watch add`, the feed list exported as OPML, and `vardelle brief
# --no-speech` then prints the watched stories first, the own feed's among them. Two feeds
# report one event, told once with its other source; the catalogue of known exploited
# vulnerabilities in the mirror names the CVE of a third story, which says so, and its latest
# addition (not its old ones) is told in a section of its own.
#
# Usage: watch.sh VARDELLE-BINARY
# Exit status 77 (skipped) when python3 is missing.
set -euo pipefail

vardelle=$1
command -v python3 >/dev/null || { echo "SKIP: python3 is not installed"; exit 77; }

work=$(mktemp -d)
server=
cleanup() {
    local status=$?
    [ -n "$server" ] && kill "$server" 2>/dev/null || true
    rm -rf "$work"
    exit $status
}
trap cleanup EXIT
fail() { echo "FAIL: $*"; exit 1; }

export HOME=$work/home XDG_CONFIG_HOME=$work/config XDG_DATA_HOME=$work/data \
    XDG_CACHE_HOME=$work/cache XDG_RUNTIME_DIR=$work/runtime
mkdir -p "$HOME" "$XDG_CONFIG_HOME" "$XDG_DATA_HOME" "$XDG_CACHE_HOME" "$work/www/mirror" \
    "$work/www/own"
mkdir -m 700 "$XDG_RUNTIME_DIR"
unset http_proxy https_proxy HTTP_PROXY HTTPS_PROXY all_proxy ALL_PROXY

write_feed() { # path, channel title, then stories as "title" or "title|summary"; the first is dated now, each next a minute before
    local path=$1 title=$2; shift 2
    python3 - "$path" "$title" "$@" <<'PY'
import os, sys, time, email.utils
path, title, stories = sys.argv[1], sys.argv[2], sys.argv[3:]
# Each story its own link: stories of different feeds with one link are told as one.
items = "".join(
    f"<item><title>{t.split('|')[0]}</title>"
    f"<description>{t.partition('|')[2]}</description>"
    f"<link>https://example.org/{os.path.basename(path)}/{n}</link>"
    f"<guid>{path}{n}</guid>"
    f"<pubDate>{email.utils.formatdate(time.time() - 60 * n, usegmt=True)}</pubDate></item>"
    for n, t in enumerate(stories))
open(path, "w").write(
    f'<?xml version="1.0"?><rss version="2.0"><channel><title>{title}</title>{items}</channel></rss>')
PY
}
for id in cisa-advisories bleepingcomputer thehackernews orvane securityweek darkreading \
    helpnetsecurity therecord industrialcyber sans-isc cisa-ics unit42 cisa-news ncsc-uk \
    malwarebytes talos securelist checkpoint-research welivesecurity microsoft-security; do
    write_feed "$work/www/mirror/$id.xml" feed
done
write_feed "$work/www/mirror/talos.xml" Talos "Loader returns" "Ivanti gateways under attack"
write_feed "$work/www/mirror/bleepingcomputer.xml" BleepingComputer \
    "SonicWall urges admins to patch critical RCE flaw in SMA 100 devices|SonicWall is urging customers to install updates for a critical remote code execution flaw in its SMA 100 series appliances."
write_feed "$work/www/mirror/securityweek.xml" SecurityWeek "Quiet day at securityweek" \
    "SonicWall Patches Critical SMA 100 Vulnerability, Warns of Recent Malware Attack|SonicWall has patched a critical vulnerability in SMA 100 series appliances and warned of attacks."
python3 - "$work/www/mirror/known-exploited-vulnerabilities.json" <<'PY'
import datetime, json, sys
def entry(cve, vendor, product, name, added):
    return {"cveID": cve, "vendorProject": vendor, "product": product, "vulnerabilityName": name,
            "dateAdded": added, "knownRansomwareCampaignUse": "Unknown"}
today = datetime.datetime.now(datetime.timezone.utc).date().isoformat()
vulnerabilities = [
    entry("CVE-2099-0042", "Fortinet", "FortiOS", "FortiOS Heap Overflow", today),
    entry("CVE-2024-3400", "Palo Alto Networks", "PAN-OS", "PAN-OS Command Injection", "2024-04-12"),
    entry("CVE-2021-44228", "Apache", "Log4j2", "Log4j2 Remote Code Execution", "2021-12-10"),
]
json.dump({"title": "CISA Catalog of Known Exploited Vulnerabilities", "catalogVersion": today,
           "dateReleased": today + "T12:00:00.000Z", "count": len(vulnerabilities),
           "vulnerabilities": vulnerabilities}, open(sys.argv[1], "w"))
PY
write_feed "$work/www/own/psirt.xml" "Vendor PSIRT" "Fix for CVE-2024-3400 released"

python3 - "$work/www" >"$work/port" 2>"$work/http.log" <<'PY' &
import http.server, functools, sys
handler = functools.partial(http.server.SimpleHTTPRequestHandler, directory=sys.argv[1])
server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), handler)
print(server.server_address[1], flush=True)
server.serve_forever()
PY
server=$!
for ((i = 0; i < 100; i++)); do [ -s "$work/port" ] && break; sleep 0.1; done
[ -s "$work/port" ] || fail "the feed server did not start"
base=http://127.0.0.1:$(cat "$work/port")
# Every feed, catalogue or own, is gathered from the mirror, by its id.
export VARDELLE_FEED_MIRROR=$base/mirror

"$vardelle" feeds add "$base/own/psirt.xml" --category malware >"$work/added" ||
    fail "adding the own feed failed"
grep -q "^vendor-psirt	Vendor PSIRT	malware	on	$base/own/psirt.xml\$" "$work/added" ||
    fail "unexpected line for the added feed: $(cat "$work/added")"
cp "$work/www/own/psirt.xml" "$work/www/mirror/vendor-psirt.xml"

status=0
"$vardelle" feeds add "$base/own/missing.xml" 2>"$work/refused" || status=$?
[ $status -eq 1 ] || fail "a missing feed gave exit status $status, not 1"
[ "$(wc -l <"$work/refused")" -eq 1 ] && grep -q "HTTP 404" "$work/refused" ||
    fail "unexpected refusal: $(cat "$work/refused")"

"$vardelle" watch add Ivanti CVE-2024-3400 || fail "adding watch terms failed"
[ "$("$vardelle" watch list)" = "$(printf 'Ivanti\nCVE-2024-3400')" ] || fail "watch list differs"
[ "$("$vardelle" feeds list | wc -l)" -eq 21 ] || fail "feeds list is not 21 lines"

"$vardelle" feeds export "$work/feeds.opml" || fail "export failed"
grep -q "xmlUrl=\"$base/own/psirt.xml\"" "$work/feeds.opml" || fail "the own feed is not exported"

"$vardelle" brief --no-speech >"$work/briefing" || fail "brief failed"
briefing=$(cat "$work/briefing")
expected='^Here is your security briefing\. [0-9]+ new stories since [^.]*\. On your watch list, 2 stories\. From Vendor PSIRT\. Fix for C V E, 2024, 3400 released\. C V E, 2024, 3400 is known to be exploited\. From Cisco Talos Intelligence\. Ivanti gateways under attack\. Newly known to be exploited: 1 vulnerability\. Fortinet FortiOS: FortiOS Heap Overflow\. In cyber security, '
[[ $briefing =~ $expected ]] || fail "the watch section and the new additions are not first: $briefing"
group='From SecurityWeek\. SonicWall Patches Critical SMA 100 Vulnerability, Warns of Recent Malware Attack\. Also reported by BleepingComputer\.'
[[ $briefing =~ $group ]] || fail "the event of two feeds is not told once with its other source: $briefing"
[ "$(grep -o SonicWall <<<"$briefing" | wc -l)" -eq 1 ] || fail "the event is told twice: $briefing"
[[ $briefing != *Log4j2* ]] || fail "an old catalogue entry is told as new: $briefing"
echo "PASS"
