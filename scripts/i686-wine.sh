#!/usr/bin/env bash
# Runs a 32-bit (i686) Windows program of the build under wine, on any x86_64 kernel.
#   i686-wine.sh --setup          make i686 wine work (idempotent; fetches qemu when needed)
#   i686-wine.sh --mode           print how i686 programs run here: "native" or "qemu"
#   i686-wine.sh --init           create (or update) the wine prefix once
#   i686-wine.sh PROGRAM ARGS     run PROGRAM with ARGS
#
# Where the kernel executes 32-bit code, wine's 32-bit loader runs directly. Some kernels (virtual
# machines whose host turns IA-32 emulation off) refuse every i386 ELF with ENOEXEC; there the
# script enters a private user and mount namespace, mounts binfmt_misc inside it (kernels from 6.7
# on give each user namespace its own) and registers qemu's i386 user-mode emulator for i386 ELF
# files. Wine's loader and every 32-bit process it starts then run under qemu, and nothing outside
# the namespace sees the registration. Debian 12's own qemu-user-static (7.2) is not usable for
# this: it ignores wine's address hints and spends about a minute per wine start in an
# mmap/munmap loop. The qemu-user package of the release's backports suite (10.0) starts a wine
# program in about a second, so --setup fetches that package without touching the system's apt
# sources and keeps its static qemu-i386 in a cache folder.
#
# Environment:
#   LUM_I686_WINE=native|qemu   force a mode (qemu on a kernel that runs 32-bit code natively
#                               emulates wine's first process only: the kernel prefers its own
#                               ELF loader over binfmt_misc for the processes that one starts)
#   LUM_QEMU_CACHE              where the fetched emulator is kept (default /var/cache/lumetra-qemu)
# Under qemu the program sees LUM_TEST_EMULATED=1 (tests/support/emulation.h).
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
cache=${LUM_QEMU_CACHE:-/var/cache/lumetra-qemu}
qemu=$cache/qemu-i386
loader32=/usr/lib/wine/wine
registration=qemu-i386-lumetra

die() {
  echo "i686-wine: $*" >&2
  exit 1
}

# The ELF magic and mask of qemu's own i386 registration (e_ident, e_type 2 or 3, e_machine 3).
binfmt_rule() {
  local magic='\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00'
  local mask='\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff'
  printf ':%s:M::%s:%s:%s:F' "$registration" "$magic" "$mask" "$1"
}

# True when the kernel runs an i386 ELF by itself. The probe runs where no binfmt_misc handler can
# stand in for the kernel (a fresh binfmt_misc of a private namespace) when the kernel allows that,
# so that a globally registered emulator is not mistaken for native support.
kernel_runs_i386() {
  local probe=/lib/ld-linux.so.2
  [[ -e $probe ]] || die "$probe is missing: install wine32:i386 (scripts/setup.sh)"
  if unshare --user --map-root-user --mount true 2>/dev/null; then
    unshare --user --map-root-user --mount sh -c '
      mount -t binfmt_misc binfmt_misc /proc/sys/fs/binfmt_misc 2>/dev/null &&
        [ ! -e /proc/sys/fs/binfmt_misc/'"$registration"' ] || exit 97
      exec "$1" --version' sh "$probe" >/dev/null 2>&1 && return 0
    # Status 97: this kernel shares one binfmt_misc between namespaces; probe directly below.
    [[ $? -eq 97 ]] || return 1
  fi
  "$probe" --version >/dev/null 2>&1
}

mode() {
  case ${LUM_I686_WINE:-} in
    native | qemu) echo "$LUM_I686_WINE" ;;
    "") if kernel_runs_i386; then echo native; else echo qemu; fi ;;
    *) die "LUM_I686_WINE must be native or qemu, not '$LUM_I686_WINE'" ;;
  esac
}

# The system's own Debian mirror, read from its apt sources (deb822 .sources files or one-line
# .list files): the first URI that serves the release's main suite.
debian_mirror() {
  local codename=$1 f
  shopt -s nullglob
  for f in /etc/apt/sources.list.d/*.sources; do
    awk -v suite="$codename" '
      function flush() { if (deb && hit && uri != "") { print uri; found = 1; exit } deb = hit = 0; uri = "" }
      /^[ \t]*$/ { flush(); next }
      /^[ \t]*#/ { next }
      tolower($1) == "types:" { for (i = 2; i <= NF; i++) if ($i == "deb") deb = 1 }
      tolower($1) == "uris:" { uri = $2 }
      tolower($1) == "suites:" { for (i = 2; i <= NF; i++) if ($i == suite) hit = 1 }
      END { if (!found) flush() }' "$f"
  done
  for f in /etc/apt/sources.list /etc/apt/sources.list.d/*.list; do
    [[ -f $f ]] || continue
    # deb [options] URI suite components...
    sed -E 's/\[[^]]*\]//' "$f" | awk -v suite="$codename" '$1 == "deb" && $3 == suite { print $2 }'
  done
}

fetch_qemu() {
  [[ -x $qemu ]] && "$qemu" --version >/dev/null 2>&1 && return 0
  [[ $(id -u) -eq 0 ]] || die "fetching qemu needs root (run scripts/setup.sh as root once)"
  local codename mirror work
  codename=$(. /etc/os-release && echo "${VERSION_CODENAME:-}")
  [[ -n $codename ]] || die "cannot tell the Debian release from /etc/os-release"
  mirror=$(debian_mirror "$codename" | head -n 1)
  [[ -n $mirror ]] || die "no Debian mirror for '$codename' in the apt sources"
  work=$(mktemp -d)
  trap 'rm -rf "$work"' EXIT
  mkdir -p "$work/lists/partial" "$work/cache/archives/partial" "$work/parts" "$work/deb"
  echo "deb [signed-by=/usr/share/keyrings/debian-archive-keyring.gpg] $mirror $codename-backports main" \
    >"$work/sources.list"
  local apt_opts=(-o "Dir::Etc::SourceList=$work/sources.list" -o "Dir::Etc::SourceParts=$work/parts"
    -o "Dir::State::Lists=$work/lists" -o "Dir::Cache=$work/cache" -o "APT::Architectures=amd64"
    -o "Debug::NoLocking=true" -o "APT::Sandbox::User=root")
  echo "i686-wine: fetching qemu-user from $codename-backports" >&2
  apt-get -qq "${apt_opts[@]}" update
  (cd "$work/deb" && apt-get -qq "${apt_opts[@]}" download "qemu-user/$codename-backports")
  dpkg-deb -x "$work"/deb/qemu-user_*.deb "$work/root"
  [[ -x $work/root/usr/bin/qemu-i386 ]] || die "the qemu-user package has no usr/bin/qemu-i386"
  mkdir -p "$cache"
  # Install under a temporary name first so that a concurrent reader never sees half a file.
  cp "$work/root/usr/bin/qemu-i386" "$cache/.qemu-i386.$$"
  mv -f "$cache/.qemu-i386.$$" "$qemu"
  rm -rf "$work"
  trap - EXIT
  "$qemu" --version | head -n 1 >&2
}

setup() {
  [[ -x $loader32 ]] || bash "$here/setup.sh"
  [[ -x $loader32 ]] || die "wine's 32-bit loader $loader32 is missing (wine32:i386)"
  if [[ $(mode) == qemu ]]; then
    fetch_qemu
    unshare --user --map-root-user --mount true 2>/dev/null ||
      die "this kernel allows no private user namespace, which the i386 emulation needs"
  fi
}

if [[ ${1:-} == --mode ]]; then
  mode
  exit 0
fi
if [[ ${1:-} == --setup ]]; then
  setup
  echo "i686-wine: i686 programs run $(mode) here" >&2
  exit 0
fi

# Inside the namespace: mount binfmt_misc, register the emulator, run the program. A process
# started by this script inside an earlier namespace inherits it and the registration as well.
if [[ ${1:-} == --in-namespace ]]; then
  shift
  b=/proc/sys/fs/binfmt_misc
  if [[ ! -e $b/$registration ]]; then
    [[ -e $b/register ]] || mount -t binfmt_misc binfmt_misc "$b" ||
      die "cannot mount binfmt_misc in the private namespace (the kernel needs to be 6.7 or newer)"
    binfmt_rule "$qemu" >"$b/register"
  fi
  if [[ ${LUM_I686_WINE:-} == qemu ]]; then
    # Forced on a kernel that runs i386 code itself: emulate wine's own loader explicitly.
    export WINELOADER=$loader32
    loader32="$qemu $loader32"
  fi
  export LUM_WINE32_LOADER=$loader32
  # Tests whose run time is sheer volume take smaller inputs under emulation (tests/support).
  export LUM_TEST_EMULATED=1
  exec bash "$here/wine-run.sh" "$@"
fi

case $(mode) in
  native) exec bash "$here/wine-run.sh" "$@" ;;
  qemu)
    [[ -x $qemu ]] || fetch_qemu
    if [[ -e /proc/sys/fs/binfmt_misc/$registration ]]; then
      exec bash "$0" --in-namespace "$@"
    fi
    exec unshare --user --map-root-user --mount bash "$0" --in-namespace "$@"
    ;;
esac
