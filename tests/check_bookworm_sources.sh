#!/usr/bin/env bash
# Feeds bookworm_sources.sh sample apt source directories and compares the archives it picks.
# Usage: check_bookworm_sources.sh PATH/TO/bookworm_sources.sh
set -uo pipefail
helper=$1
work=$(mktemp -d "${TMPDIR:-/tmp}/apt-源.XXXXXX")
trap 'rm -rf "$work"' EXIT
failed=0

put() { # case file   (contents on stdin)
  mkdir -p "$(dirname "$work/$1/$2")"
  cat >"$work/$1/$2"
}

expect() { # case expected-lines [VAR=value...]   ("" expects a failure naming ORVILOOP_CLEAN_MIRROR)
  local name=$1 want=$2 got status
  shift 2
  got=$(env "$@" ORVILOOP_APT_DIR="$work/$name" "$helper" 2>"$work/$name.err" | tr '\t' ' ' | sed 's/ *$//')
  status=${PIPESTATUS[0]}
  if [ -z "$want" ] && { [ "$status" -eq 0 ] || ! grep -q ORVILOOP_CLEAN_MIRROR "$work/$name.err"; }; then
    echo "FAIL $name $*: expected a failure with a hint, got status $status: $got"; failed=1
  elif [ -n "$want" ] && [ "$got" != "$want" ]; then
    printf 'FAIL %s %s\n--- expected\n%s\n--- got (status %s)\n%s\n' "$name" "$*" "$want" "$status" "$got"
    cat "$work/$name.err"; failed=1
  fi
}

touch "$work/key.gpg"
put one-line sources.list <<EOF
# deb http://127.0.0.2/debian bookworm main
deb-src http://127.0.0.2/debian bookworm main
deb http://127.0.0.2/debian bookworm contrib   # no main here
deb [arch=amd64 signed-by=$work/key.gpg] http://mirror.invalid/debian/ bookworm main contrib
deb [ arch=amd64 ] http://mirror.invalid/debian bookworm-updates main
deb http://127.0.0.1:3142/security.invalid/debian-security bookworm-security main
EOF
expect one-line "bookworm http://mirror.invalid/debian $work/key.gpg
bookworm-updates http://mirror.invalid/debian
bookworm-security http://127.0.0.1:3142/security.invalid/debian-security"

# sources.list comes before sources.list.d; of those only *.list and *.sources count.
put deb822 sources.list <<EOF
deb http://127.0.0.1/debian trixie main
EOF
put deb822 sources.list.d/00-off.list.disabled <<EOF
deb http://127.0.0.2/debian bookworm main
EOF
put deb822 sources.list.d/debian.sources <<EOF
Types: deb
URIs: http://127.0.0.2/debian
Suites: bookworm
Components: main
Enabled: no

Types: deb-src
URIs: http://127.0.0.3/debian
Suites: bookworm
Components: main

types: deb deb-src
# a comment inside the entry
URIs: https://mirror.invalid/debian
Suites: bookworm
  bookworm-updates
Components: contrib main non-free-firmware
Signed-By:
 -----BEGIN PGP PUBLIC KEY BLOCK-----
 .
 bookworm main
 -----END PGP PUBLIC KEY BLOCK-----

Types: deb
URIs: http://127.0.0.1/debian-security
Suites: bookworm-security
Components: main
EOF
expect deb822 "bookworm https://mirror.invalid/debian
bookworm-updates https://mirror.invalid/debian
bookworm-security http://127.0.0.1/debian-security"
expect deb822 "bookworm http://127.0.0.1:3142/debian
bookworm-updates http://127.0.0.1:3142/debian
bookworm-security http://127.0.0.1/debian-security" ORVILOOP_CLEAN_MIRROR=http://127.0.0.1:3142/debian/

# A disc is passed over; a mirror list on this machine gives its first archive.
put mirror-list mirrors.list <<EOF
# the nearest first
http://mirror.invalid/debian	priority:1
http://127.0.0.1/debian
EOF
put mirror-list sources.list <<EOF
deb cdrom:[Debian GNU/Linux 12.0.0 _Bookworm_]/ bookworm main
deb mirror+file:$work/mirror-list/mirrors.list bookworm main
EOF
expect mirror-list "bookworm http://mirror.invalid/debian"

put no-main sources.list.d/only-others.list <<EOF
deb http://mirror.invalid/debian trixie main
deb http://mirror.invalid/debian bookworm contrib
deb-src http://mirror.invalid/debian bookworm main
deb mirror+http://mirror.invalid/mirrors.txt bookworm main
deb file:/srv/debian bookworm main
EOF
expect no-main ""
expect no-main "bookworm http://127.0.0.1/debian
bookworm-updates http://127.0.0.1/debian" ORVILOOP_CLEAN_MIRROR=http://127.0.0.1/debian
mkdir -p "$work/empty"
expect empty ""

[ $failed -eq 0 ] && echo "all cases pass"
exit $failed
