#!/usr/bin/env bash
# Prints the Debian 12 archives this machine takes its packages from, the way the clean-install
# check uses them: one tab-separated line per suite found (bookworm, bookworm-updates,
# bookworm-security):   SUITE  URI  KEYRING
# KEYRING is the source's signed-by file when it names one that exists, else empty.
# The sources are read from $ORVILOOP_APT_DIR (default /etc/apt) in the order apt reads them:
# sources.list, then sources.list.d/*.list (one-line format) and *.sources (deb822) by name.
# For each suite the first enabled "deb" entry with the main component wins; entries a chroot
# cannot use (a disc, a directory, a mirror list on the network) are passed over with a note.
# ORVILOOP_CLEAN_MIRROR, when set, is the archive for bookworm and bookworm-updates.
# Fails with a message when no bookworm main archive is left.
set -euo pipefail
apt_dir=${ORVILOOP_APT_DIR:-/etc/apt}
me=$(basename "$0")

# Every enabled "deb" entry, one per URI and suite: FILE SUITE URI COMPONENTS SIGNED-BY (tabs).
one_line_entries() { # file
  awk -v OFS='\t' '
    { sub(/#.*/, "") }
    {
      signed = ""
      if (match($0, /\[[^]]*\]/)) {
        n = split(substr($0, RSTART + 1, RLENGTH - 2), options, /[ \t]+/)
        for (i = 1; i <= n; i++)
          if (options[i] ~ /^signed-by=/) signed = substr(options[i], 11)
        $0 = substr($0, 1, RSTART - 1) " " substr($0, RSTART + RLENGTH)
      }
    }
    $1 == "deb" && NF >= 4 {
      components = $4
      for (i = 5; i <= NF; i++) components = components " " $i
      print FILENAME, $3, $2, components, signed
    }' "$1"
}

deb822_entries() { # file
  awk -v OFS='\t' '
    function flush(   u, s, nu, ns, uri, suite) {
      if (types ~ /(^|[ \t])deb([ \t]|$)/ && enabled !~ /^(no|false|off|without|disable|0)$/) {
        nu = split(uris, uri, /[ \t]+/); ns = split(suites, suite, /[ \t]+/)
        for (u = 1; u <= nu; u++)
          for (s = 1; s <= ns; s++)
            if (uri[u] != "" && suite[s] != "") print FILENAME, suite[s], uri[u], components, signed
      }
      types = uris = suites = components = signed = enabled = field = ""
    }
    /^#/ { next }
    /^[ \t]*$/ { flush(); next }
    /^[ \t]/ { # a folded line; only the list fields are read on (an inline key is not a path)
      if (field ~ /^(types|uris|suites|components)$/) value[field] = value[field] " " $0
      set_fields(); next
    }
    {
      field = tolower(substr($0, 1, index($0, ":") - 1))
      value[field] = substr($0, index($0, ":") + 1)
      set_fields()
    }
    function set_fields(   v) {
      v = value[field]; gsub(/^[ \t]+|[ \t]+$/, "", v)
      if (field == "types") types = v
      else if (field == "uris") uris = v
      else if (field == "suites") suites = v
      else if (field == "components") components = v
      else if (field == "signed-by") signed = (v ~ /^\//) ? v : ""
      else if (field == "enabled") enabled = tolower(v)
    }
    END { flush() }' "$1"
}

all_entries() {
  local file
  [ -f "$apt_dir/sources.list" ] && one_line_entries "$apt_dir/sources.list"
  for file in "$apt_dir"/sources.list.d/*; do
    case $file in
      *.list) one_line_entries "$file" ;;
      *.sources) deb822_entries "$file" ;;
    esac
  done
}

# The archive's address as debootstrap and apt in the chroot can use it; else, failing, the reason.
usable_uri() { # uri
  local uri=$1 list first
  case $uri in
    http://* | https://*) echo "${uri%/}" ;;
    mirror+file:*)
      list=${uri#mirror+file:}
      list=/${list#"${list%%[!/]*}"}
      first=$(sed 's/#.*//' "$list" 2>/dev/null | awk 'NF { print $1; exit }')
      case $first in
        http://* | https://*) echo "${first%/}" ;;
        *) echo "its mirror list $list names no http or https archive"; return 1 ;;
      esac ;;
    mirror:* | mirror+*) echo "its mirror list is on the network"; return 1 ;;
    cdrom:*) echo "it is a disc"; return 1 ;;
    file:* | copy:*) echo "it is a directory on this machine, out of the chroot's reach"; return 1 ;;
    *) echo "the access method '${uri%%:*}' is not one the check can use"; return 1 ;;
  esac
}

entries=$(all_entries)

# Prints the line for the suite's first usable main archive, if there is one.
pick() { # suite
  local file suite uri components signed address
  while IFS=$'\t' read -r file suite uri components signed; do
    [ "$suite" = "$1" ] && [[ " $components " == *" main "* ]] || continue
    if address=$(usable_uri "$uri"); then
      [ -f "$signed" ] || signed=
      printf '%s\t%s\t%s\n' "$1" "$address" "$signed"
      return 0
    fi
    echo "$me: passing over $uri ($1 in $file): $address" >&2
  done <<<"$entries"
  return 1
}

if [ -n "${ORVILOOP_CLEAN_MIRROR:-}" ]; then
  printf '%s\t%s\t\n' bookworm "${ORVILOOP_CLEAN_MIRROR%/}" bookworm-updates "${ORVILOOP_CLEAN_MIRROR%/}"
else
  if ! pick bookworm; then
    echo "$me: no usable Debian 12 source (\"deb URI bookworm main\") in $apt_dir/sources.list" \
      "or $apt_dir/sources.list.d/ (*.list, *.sources); set ORVILOOP_CLEAN_MIRROR to a Debian" \
      "archive's address" >&2
    exit 1
  fi
  pick bookworm-updates || true
fi
pick bookworm-security || true
