#!/usr/bin/env bash
# The bash completion against the real program in a fresh home: `feeds remove` offers only the
# user's own feeds (catalogue feeds can only be switched off), `feeds off` every feed, and
# `watch remove` offers terms quoted so that a term with spaces stays one word.
#
# Usage: completion.sh VARDELLE-BINARY
set -euo pipefail

vardelle=$1
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*"; exit 1; }

export HOME=$work/home XDG_CONFIG_HOME=$work/config XDG_DATA_HOME=$work/data \
    XDG_CACHE_HOME=$work/cache XDG_RUNTIME_DIR=$work/runtime
mkdir -p "$HOME" "$XDG_CONFIG_HOME/Vardelle" "$XDG_DATA_HOME" "$XDG_CACHE_HOME" "$work/bin"
mkdir -m 700 "$XDG_RUNTIME_DIR"
ln -s "$vardelle" "$work/bin/vardelle"
export PATH=$work/bin:$PATH

cat >"$XDG_CONFIG_HOME/Vardelle/preferences.json" <<'JSON'
{"customFeeds":[{"id":"vendor-psirt","name":"Vendor PSIRT","url":"https://example.org/feed",
  "category":"malware","enabled":true}]}
JSON
vardelle watch add "Palo Alto" Ivanti >/dev/null

# shellcheck source=/dev/null
source "$here/../../packaging/bash-completion/vardelle"
complete_words() {
    COMP_WORDS=("$@")
    COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
    COMPREPLY=()
    _vardelle
    printf '%s\n' "${COMPREPLY[@]}" | sort
}

got=$(complete_words vardelle feeds remove "")
[ "$got" = "vendor-psirt" ] || fail "feeds remove offers: $got"
got=$(complete_words vardelle feeds off "")
grep -qx talos <<<"$got" || fail "feeds off misses a catalogue feed: $got"
grep -qx vendor-psirt <<<"$got" || fail "feeds off misses an own feed: $got"
got=$(complete_words vardelle watch remove "")
[ "$got" = "$(printf '%s\n' 'Ivanti' 'Palo\ Alto' | sort)" ] || fail "watch remove offers: $got"
got=$(complete_words vardelle watch remove Pa)
[ "$got" = 'Palo\ Alto' ] || fail "watch remove Pa offers: $got"
echo "PASS"
