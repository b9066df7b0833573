#!/usr/bin/env bash
# Installs the OrviLoop Debian package into a fresh minimal Debian 12 (bookworm) chroot and checks
# that the package's own dependencies are enough: the program starts the way its menu entry starts
# it for a Chinese desktop user (LANG=zh_CN.UTF-8; with no file, and with the installed demo lesson,
# which must be heard), stays up, prints no fatal error, and ends cleanly on SIGTERM. Needs root
# (debootstrap, chroot, mounts).
# Usage: check_clean_install.sh [PACKAGE.deb]   (default: build-deb/orviloop_*.deb, built if missing)
# The archives are the machine's own: the bookworm, bookworm-updates and bookworm-security main
# sources of its apt sources (see bookworm_sources.sh), reached through the proxy apt uses; set
# ORVILOOP_CLEAN_MIRROR to take bookworm and bookworm-updates from another archive.
# The pristine tree is cached as a tarball in $ORVILOOP_CLEAN_CACHE (default
# /var/cache/orviloop-clean); delete it to bootstrap again.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
cache=${ORVILOOP_CLEAN_CACHE:-/var/cache/orviloop-clean}
tarball=$cache/bookworm-minbase.tar.gz
run_seconds=8
user_lang=zh_CN.UTF-8
started=$(date +%s)

[ "$(id -u)" -eq 0 ] || { echo "check_clean_install.sh: run as root (debootstrap, chroot)" >&2; exit 2; }

# One line per suite: SUITE URI KEYRING (tab-separated).
archives=$("$top/scripts/bookworm_sources.sh") || exit 2
mirror=$(awk -F'\t' '$1 == "bookworm" { print $2 }' <<<"$archives")
keyring=$(awk -F'\t' '$1 == "bookworm" { print $3 }' <<<"$archives")
echo "== Archives:"
cut -f 1,2 <<<"$archives" | sed 's/^/   /'

# The proxy apt goes through on this machine, for debootstrap (wget) and for apt in the chroot.
proxy_setting() { # scheme
  local name=${1}_proxy value
  value=${!name:-}
  [ -n "$value" ] || eval "$(apt-config shell value "Acquire::$1::Proxy")"
  [ "$value" = DIRECT ] || echo "$value"
}
http_proxy=$(proxy_setting http)
https_proxy=$(proxy_setting https)
[ -z "$http_proxy" ] || export http_proxy
[ -z "$https_proxy" ] || export https_proxy

find_package() {
  local found
  found=$(ls -t "$top"/build-deb/orviloop_*.deb 2>/dev/null | head -n 1 || true)
  echo "$found"
}

deb=${1:-}
if [ -z "$deb" ]; then
  deb=$(find_package)
  if [ -z "$deb" ]; then
    "$top/scripts/make_deb.sh"
    deb=$(find_package)
  fi
fi
[ -f "$deb" ] || { echo "check_clean_install.sh: no package at '$deb'" >&2; exit 2; }
deb=$(readlink -f "$deb")
echo "== Package: $deb"

if ! command -v debootstrap >/dev/null; then
  apt-get update -q
  DEBIAN_FRONTEND=noninteractive apt-get install -y -q debootstrap
fi

# --- The pristine tree, bootstrapped once and kept as a tarball ---------------------------------
phase_start=$(date +%s)
if [ ! -f "$tarball" ]; then
  echo "== Bootstrapping a minimal bookworm tree (cached afterwards in $tarball)"
  mkdir -p "$cache"
  fresh=$(mktemp -d "$cache/bootstrap.XXXXXX")
  chmod 0755 "$fresh"
  bootstrap_options=(--variant=minbase)
  # gpgv reads binary keyrings only; for an armoured one debootstrap keeps its own.
  [[ $keyring == *.gpg ]] && bootstrap_options+=(--keyring="$keyring")
  if ! debootstrap "${bootstrap_options[@]}" bookworm "$fresh" "$mirror" 2>&1 | tee "$cache/debootstrap.log"; then
    rm -rf --one-file-system "$fresh"
    echo "check_clean_install.sh: could not bootstrap bookworm from $mirror (log: $cache/debootstrap.log)" >&2
    exit 2
  fi
  tar -C "$fresh" --numeric-owner -czf "$tarball.part" .
  mv "$tarball.part" "$tarball"
  rm -rf --one-file-system "$fresh"
fi
bootstrap_seconds=$(($(date +%s) - phase_start))

root=$(mktemp -d /var/tmp/orviloop-clean.XXXXXX)
mounted=()

unmount_all() {
  local i
  for ((i = ${#mounted[@]} - 1; i >= 0; i--)); do
    umount "${mounted[i]}" 2>/dev/null || umount -l "${mounted[i]}" || true
  done
  mounted=()
}

cleanup() {
  unmount_all
  # Never remove the tree while anything is still mounted inside it (that would reach the host).
  local targets
  targets=$(findmnt -rn -o TARGET)
  if grep -q "^$root/" <<<"$targets"; then
    echo "check_clean_install.sh: $root still has mounts; left in place" >&2
  else
    rm -rf --one-file-system "$root"
  fi
}
trap cleanup EXIT
trap 'exit 130' INT TERM

bind() { # type-or-bind source target
  local target=$root$3
  mkdir -p "$target"
  if [ "$1" = bind ]; then mount --bind "$2" "$target"; else mount -t "$1" "$2" "$target"; fi
  mounted+=("$target")
}

echo "== Unpacking a fresh copy into $root"
tar -C "$root" --numeric-owner -xzf "$tarball"
chmod 0755 "$root" # the tree's "/" (made by mktemp as 0700), which every user must enter
bind proc proc /proc
bind sysfs sysfs /sys
bind bind /dev /dev
bind bind /dev/pts /dev/pts
bind tmpfs tmpfs /dev/shm
cp -L /etc/resolv.conf "$root/etc/resolv.conf"
write_sources() {
  local suite uri source_keyring options kept
  while IFS=$'\t' read -r suite uri source_keyring; do
    options=
    if [ -n "$source_keyring" ]; then
      kept=/etc/apt/keyrings/orviloop-check-$(basename "$source_keyring")
      mkdir -p "$root/etc/apt/keyrings"
      cp "$source_keyring" "$root$kept"
      options="[signed-by=$kept] "
    fi
    echo "deb $options$uri $suite main"
  done <<<"$archives"
}
write_sources >"$root/etc/apt/sources.list"
{
  [ -z "$http_proxy" ] || echo "Acquire::http::Proxy \"$http_proxy\";"
  [ -z "$https_proxy" ] || echo "Acquire::https::Proxy \"$https_proxy\";"
  # The tree holds no certificates (ca-certificates is no dependency of apt); the machine's let
  # apt reach an https archive without adding a package to the tree.
  if grep -q $'\thttps://' <<<"$archives"; then
    cp -L /etc/ssl/certs/ca-certificates.crt "$root/etc/apt/orviloop-check-ca.crt"
    echo 'Acquire::https::CAInfo "/etc/apt/orviloop-check-ca.crt";'
  fi
} >"$root/etc/apt/apt.conf.d/99orviloop-check"
# The tree is thrown away after the run, so dpkg need not sync every file it writes.
echo force-unsafe-io >"$root/etc/dpkg/dpkg.cfg.d/orviloop-check-unsafe-io"
# Package scripts must not start services in the chroot.
printf '#!/bin/sh\nexit 101\n' >"$root/usr/sbin/policy-rc.d"
chmod +x "$root/usr/sbin/policy-rc.d"
package_name=$(basename "$deb")
cp "$deb" "$root/tmp/$package_name"

in_root() { chroot "$root" /usr/bin/env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin HOME=/root \
  LANG=C.UTF-8 DEBIAN_FRONTEND=noninteractive "$@"; }

# --- The install, with nothing but the package's own dependencies -------------------------------
phase_start=$(date +%s)
echo "== apt-get install ./$package_name"
install_ok=yes
in_root sh -c "cd /tmp && apt-get update -q && apt-get install -y -q ./$package_name" \
  >"$root/tmp/install.log" 2>&1 || install_ok=no
tail -n 5 "$root/tmp/install.log"
install_seconds=$(($(date +%s) - phase_start))

results=()
failed=0
record() { # PASS|FAIL text
  results+=("$1  $2")
  [ "$1" = PASS ] || failed=1
}
# The libraries ldd reports as not found, by name on one line.
missing_libraries() { sed -n 's/^[[:space:]]*\([^[:space:]]*\) => not found.*/\1/p' | paste -sd ' '; }

if [ $install_ok = no ]; then
  cat "$root/tmp/install.log"
  record FAIL "apt-get install ./$package_name"
else
  record PASS "apt-get install ./$package_name"

  ldd_status=0
  ldd_output=$(in_root ldd /usr/bin/orviloop 2>&1) || ldd_status=$?
  missing_libs=$(missing_libraries <<<"$ldd_output")
  if [ -n "$missing_libs" ]; then record FAIL "ldd /usr/bin/orviloop: not found: $missing_libs"
  elif [ $ldd_status -ne 0 ]; then record FAIL "ldd /usr/bin/orviloop: $(head -n 1 <<<"$ldd_output")"
  else record PASS "ldd /usr/bin/orviloop: every library found"; fi

  # Tools only for the check, added after the package so they prove nothing about its dependencies:
  # a screen, the user's locale, and a sound server with a null sink whose sound is recorded.
  echo "== Installing the check tools (xvfb, xauth, fontconfig, locales, pulseaudio)"
  in_root apt-get install -y -q --no-install-recommends xvfb xauth fontconfig locales pulseaudio \
    pulseaudio-utils >"$root/tmp/tools.log" 2>&1 || { cat "$root/tmp/tools.log"; record FAIL "installing the check tools"; }
  in_root sh -c "echo '$user_lang UTF-8' >/etc/locale.gen && locale-gen" >"$root/tmp/locale.log" 2>&1 ||
    { cat "$root/tmp/locale.log"; record FAIL "generating the locale $user_lang"; }

  if in_root fc-list :lang=zh family | grep -q .; then
    record PASS "a Chinese font is installed ($(in_root fc-list :lang=zh family | head -n 1))"
  else record FAIL "no Chinese font installed"; fi
  if in_root fc-list | grep -qi symbola; then record PASS "Symbola is installed (player glyphs)"
  else record FAIL "Symbola is not installed (player glyphs would be boxes)"; fi

  desktop=$(ls "$root"/usr/share/applications/*.desktop 2>/dev/null | head -n 1 || true)
  exec_line=$( [ -n "$desktop" ] && sed -n 's/^Exec=//p' "$desktop" | head -n 1 || true)
  # The field codes stand for the files the menu passes; none here, so they go.
  command_line=$(echo "$exec_line" | sed -E 's/ ?%[fFuU]//g')
  demo=$(ls "$root"/usr/share/orviloop/*.mp4 2>/dev/null | head -n 1 || true)
  demo=${demo#"$root"}
  echo "== Menu entry: ${desktop#"$root"}  Exec=$exec_line"
  if [ -z "$command_line" ]; then record FAIL "no desktop file with an Exec line"; fi
  if [ -z "$demo" ]; then record FAIL "no demo lesson in /usr/share/orviloop"; fi

  # Starts the command under Xvfb with a sound server whose null sink is recorded into LOG.raw,
  # lets it run, then ends it with SIGTERM and reports how it went.
  cat >"$root/tmp/start_check.sh" <<'EOF'
#!/bin/sh
# Usage: start_check.sh SECONDS LOG COMMAND ARGS...
seconds=$1 log=$2; shift 2
pulseaudio --daemonize=yes --exit-idle-time=-1 -n --load="module-null-sink sink_name=check" \
  --load=module-native-protocol-unix --log-target=stderr 2>"$log.pulse"
i=0
while ! pactl set-default-sink check 2>/dev/null && [ $i -lt 50 ]; do sleep 0.1; i=$((i + 1)); done
parec --device=check.monitor --format=s16le --rate=16000 --channels=1 --raw >"$log.raw" &
recorder=$!
trap 'kill "$recorder"; pulseaudio --kill' EXIT
"$@" >"$log" 2>&1 &
app=$!
sleep "$seconds"
if ! kill -0 "$app" 2>/dev/null; then
  wait "$app"; echo "died early, status $?" >>"$log.status"; exit 1
fi
kill -TERM "$app"
i=0
while kill -0 "$app" 2>/dev/null && [ $i -lt 50 ]; do sleep 0.1; i=$((i + 1)); done
if kill -0 "$app" 2>/dev/null; then
  kill -KILL "$app"; echo "ignored SIGTERM" >>"$log.status"; exit 1
fi
wait "$app"; status=$?
echo "exit status $status after SIGTERM" >>"$log.status"
[ "$status" -eq 0 ]
EOF
  chmod +x "$root/tmp/start_check.sh"
  # The menu starts the program as an ordinary user, for whom the installed files are read-only.
  in_root useradd -m learner
  in_root install -d -m 0700 -o learner /tmp/runtime-learner

  fatal='Could not load the Qt platform plugin|could not connect to display|error while loading shared libraries|Cannot load library|This application failed to start|No QtMultimedia backends found|QFontDatabase: Cannot find font|Fontconfig error|Segmentation fault|Aborted|Fatal|fatal|qt.core.plugin.*Cannot load'
  start_case() { # label args...
    local label=$1; shift
    local log=/tmp/run-$label.log
    local -a words
    read -r -a words <<<"$command_line"
    rm -f "$root$log" "$root$log.status" "$root$log.raw"
    echo "== Starting: ${words[*]} $* (LANG=$user_lang, under Xvfb, ${run_seconds} s, then SIGTERM)"
    local ok=yes
    in_root runuser -u learner -- env HOME=/home/learner XDG_RUNTIME_DIR=/tmp/runtime-learner LANG=$user_lang \
      xvfb-run -a -s "-screen 0 1280x800x24" /tmp/start_check.sh "$run_seconds" "$log" "${words[@]}" "$@" || ok=no
    sed 's/^/   | /' "$root$log" 2>/dev/null | head -n 40 || true
    local status
    status=$(cat "$root$log.status" 2>/dev/null || echo "no status")
    local errors
    errors=$(grep -E "$fatal" "$root$log" || true)
    if [ $ok = yes ] && [ -z "$errors" ]; then
      record PASS "'${words[*]} $*' ran ${run_seconds} s, no fatal message, $status"
    else
      record FAIL "'${words[*]} $*': $status${errors:+; fatal message: $(echo "$errors" | head -n 1)}"
    fi
  }
  # A lesson is heard: the loudest moment on the sink (0 to 1, read by the machine's sox).
  heard_case() { # label
    local peak
    peak=$(sox -t raw -r 16000 -e signed-integer -b 16 -c 1 "$root/tmp/run-$1.log.raw" -n stat 2>&1 |
      awk '/^Maximum amplitude/ { print $3 }')
    if awk -v p="${peak:-0}" 'BEGIN { exit !(p > 0.05) }'; then record PASS "the demo lesson is heard (peak $peak)"
    else record FAIL "the demo lesson is not heard (peak ${peak:-none}; sound server: $(head -c 300 "$root/tmp/run-$1.log.pulse" 2>/dev/null))"; fi
  }
  phase_start=$(date +%s)
  if [ -n "$command_line" ]; then
    start_case menu
    [ -z "$demo" ] || { start_case demo "$demo"; heard_case demo; }
  fi
  start_seconds=$(($(date +%s) - phase_start))
fi

unmount_all
echo
echo "== Summary (bootstrap ${bootstrap_seconds} s, install ${install_seconds} s, start checks ${start_seconds:-0} s, total $(($(date +%s) - started)) s)"
printf '   %s\n' "${results[@]}"
if [ $failed -eq 0 ]; then echo "PASS: $package_name installs and starts on a clean Debian 12"
else echo "FAIL: $package_name on a clean Debian 12 (see above)"; fi
exit $failed
