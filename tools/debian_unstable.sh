#!/usr/bin/env bash
# A minimal Debian unstable root with the CPythons that the host lacks:
# python3.14 and python3.15 (with -dev and -venv), python3.14-dbg (built with
# Py_DEBUG), g++, cmake, git and gdb. Debian ships each as a package, so this
# needs nothing but Debian's archive and PyPI.
#
#   tools/debian_unstable.sh               make the root if needed, print its path
#   tools/debian_unstable.sh exec CMD...   run CMD as root inside it, in a clean
#                                          environment (the path goes to stderr)
#   tools/debian_unstable.sh stage NAME    unpack this checkout's sdist, with its
#                                          tools/ beside it, into a new folder of
#                                          the root for NAME (one per checkout and
#                                          NAME) and print its path inside the root
#   tools/debian_unstable.sh remove        delete it
#   tools/debian_unstable.sh path          print its path, made or not
#   tools/debian_unstable.sh mounts        fail, naming them, while anything is
#                                          mounted inside it
#
# The root lives outside every checkout, so that ruff, git and pip never walk
# it and every worktree shares one: PYKORA_DEBIAN_ROOT overrides the default.
# Running it again only refreshes what a later run needs (the CA bundle,
# packages added to the list below); a root whose first stage never finished
# is made anew. Nothing stays mounted in the root between commands: each
# command mounts what it needs in a mount namespace of its own.
set -euo pipefail
checkout="$(cd "$(dirname "$0")/.." && pwd -P)"

root="${PYKORA_DEBIAN_ROOT:-/var/cache/pykora/debian-unstable}"
packages=(
  ca-certificates g++ cmake git gdb
  python3.14 python3.14-dev python3.14-venv python3.14-dbg
  python3.15 python3.15-dev python3.15-venv
)
# Where pip inside the root finds the bundle it trusts: a path that Debian's
# ca-certificates does not manage, so no later install rewrites it.
root_bundle=/usr/local/share/pykora/host-ca.crt

# The Debian mirror the host's own apt sources name (not its security
# archive): the same one that the host can reach.
host_mirror() {
  local uri
  uri="$(
    {
      for f in /etc/apt/sources.list.d/*.sources; do
        [ -e "$f" ] || continue
        # deb822 stanzas: the URIs of the first stanza for binary packages
        # whose suites are not security updates.
        awk '
          function flush() { if (deb && !sec && uris != "") print uris; deb = sec = 0; uris = "" }
          /^[[:space:]]*$/ { flush(); next }
          tolower($1) == "types:" { for (i = 2; i <= NF; i++) if ($i == "deb") deb = 1 }
          tolower($1) == "uris:" { uris = $2 }
          tolower($1) == "suites:" { for (i = 2; i <= NF; i++) if ($i ~ /security/) sec = 1 }
          END { flush() }' "$f"
      done
      for f in /etc/apt/sources.list /etc/apt/sources.list.d/*.list; do
        [ -e "$f" ] || continue
        awk '$1 == "deb" {
               i = 2; if ($i ~ /^\[/) { while ($i !~ /\]$/) i++; i++ }
               if ($(i + 1) !~ /security/) print $i }' "$f"
      done
    } | grep -m 1 -E '/debian/?$' || true
  )"
  if [ -z "$uri" ]; then
    echo "$0: no Debian mirror found in the host's apt sources" >&2
    return 1
  fi
  echo "${uri%/}"
}

# The CA bundle that the host's pip trusts (its configured `cert`): the same
# proxies and indexes must be trusted inside the root.
host_bundle() {
  local cert="${PIP_CERT:-}"
  if [ -z "$cert" ] && command -v pip >/dev/null; then
    cert="$(pip config get global.cert 2>/dev/null || true)"
  fi
  echo "${cert:-/etc/ssl/certs/ca-certificates.crt}"
}

# The host's environment names host paths (pip's find-links, CA bundles), so
# commands start from a clean one; only what the suite reads is passed on.
in_root() {
  local -a environment=(
    HOME=/root LANG=C.UTF-8 TERM="${TERM:-dumb}" DEBIAN_FRONTEND=noninteractive
    PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin
    PIP_CERT="$root_bundle" PIP_DISABLE_PIP_VERSION_CHECK=1
    PIP_DEFAULT_TIMEOUT="${PIP_DEFAULT_TIMEOUT:-180}"
  )
  local name
  for name in CI PYKORA_EXAMPLES; do
    if [ -n "${!name:-}" ]; then environment+=("$name=${!name}"); fi
  done
  # Each command gets a mount namespace of its own with /proc (for Python
  # itself) and the host's /dev with its submounts (/dev/shm for
  # multiprocessing, /dev/pts). They vanish with the command, so nothing stays
  # mounted on the host and concurrent commands never unmount each other's.
  env -i "${environment[@]}" unshare --mount --propagation private -- /bin/sh -c '
    mount -t proc proc "$0/proc" && mount --rbind /dev "$0/dev" && exec chroot "$0" "$@"
  ' "$root" "$@"
}

make_root() {
  local mirror stamp="$root/.pykora-packages"
  if [ ! -x "$root/usr/bin/apt-get" ] || [ ! -e "$root/.pykora-bootstrapped" ]; then
    rm -rf --one-file-system "$root"
    mkdir -p "$root"
    command -v debootstrap >/dev/null || {
      apt-get update -qq
      apt-get install -y -qq --no-install-recommends debootstrap >/dev/null
    }
    mirror="$(host_mirror)"
    echo "debootstrap sid from $mirror into $root" >&2
    debootstrap --variant=minbase sid "$root" "$mirror" >"$root.debootstrap.log" 2>&1 || {
      tail -n 20 "$root.debootstrap.log" >&2
      exit 1
    }
    touch "$root/.pykora-bootstrapped"
  fi
  # The archive's release files are past their Valid-Until date, as the
  # host's own apt configuration already allows for.
  echo 'Acquire::Check-Valid-Until "false";' >"$root/etc/apt/apt.conf.d/99pykora-valid-until"
  cp /etc/resolv.conf "$root/etc/resolv.conf"
  if [ "$(cat "$stamp" 2>/dev/null)" != "${packages[*]}" ]; then
    in_root apt-get update -qq
    in_root apt-get install -y -qq --no-install-recommends "${packages[@]}" >/dev/null
    echo "${packages[*]}" >"$stamp"
  fi
  # Installing ca-certificates rewrote the root's own bundle: pip gets the
  # host's, under a path of its own.
  mkdir -p "$root$(dirname "$root_bundle")"
  cp "$(host_bundle)" "$root$root_bundle"
  printf '[global]\ncert = %s\n' "$root_bundle" >"$root/etc/pip.conf"
}

# Runs "$@" holding the root's lock, so that no two runs make, refresh or
# remove the root at once.
locked() {
  if [ "$(id -u)" != 0 ]; then
    echo "$0: debootstrap, chroot and mount need root" >&2
    exit 1
  fi
  mkdir -p "$(dirname "$root")"
  exec 9>"$root.lock"
  flock 9
  "$@"
  exec 9>&-
}

remove_root() {
  rm -rf --one-file-system "$root" "$root.debootstrap.log"
}

# A new folder of the root for NAME, one per checkout and NAME, holding the
# checkout's sdist and its tools/ (what runs inside the root); prints its
# path inside the root. Built from the sdist, which also shows that the
# sdist holds what the build and the tests need.
stage() {
  local sdist work
  sdist="$(bash "$checkout/tools/build_sdist.sh")"
  work="/srv/pykora/$(echo "$checkout" | sha1sum | cut -c1-8)-$1"
  rm -rf "${root:?}$work"
  mkdir -p "$root$work"
  tar -xzf "$sdist" -C "$root$work" --strip-components=1
  (cd "$checkout" && git ls-files -z tools | xargs -0 cp --parents -t "$root$work")
  echo "$work"
}

# Each command mounts /proc and /dev in a namespace of its own, so nothing
# is left mounted once it ends; a mount left inside the root would be
# dangerous: with the host's /dev bound inside, removing the root by hand
# removes the host's device nodes.
check_mounts() {
  local left
  left="$(awk -v root="$root/" 'index($2, root) == 1 { print "  " $2 }' /proc/mounts)"
  if [ -n "$left" ]; then
    printf 'still mounted in %s:\n%s\n' "$root" "$left" >&2
    return 1
  fi
  echo "nothing is mounted in $root"
}

usage() {
  echo "usage: $0 [exec CMD... | stage NAME | remove | path | mounts]" >&2
  exit 2
}

case "${1:-}" in
  "")
    locked make_root
    echo "$root"
    ;;
  exec)
    [ $# -ge 2 ] || usage
    shift
    locked make_root
    echo "debian unstable root: $root" >&2
    in_root "$@"
    ;;
  stage)
    [ $# -eq 2 ] || usage
    locked make_root
    stage "$2"
    ;;
  remove) locked remove_root ;;
  path) echo "$root" ;;
  mounts) check_mounts ;;
  *) usage ;;
esac
