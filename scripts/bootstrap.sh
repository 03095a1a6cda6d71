#!/usr/bin/env bash
# Installs what building, testing and the demonstration need, when missing.
# Idempotent: does nothing on a machine that has everything.
set -euo pipefail

packages=(
  cmake make python3 git
  g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix
  # MinGW's ar and ranlib index link-time-optimised objects through the LTO
  # plugin in /usr/lib/bfd-plugins, which only the native gcc package installs
  # (a minimal Debian 13 lacks it, and the programs then fail to link).
  gcc
  # A second compiler for the library's consumer test: clang and its linker
  # build a tool against setup_support as another team's toolchain would.
  clang lld
  wine wine64
  googletest
  liblnk-utils python3-pefile python3-pytest
  wixl msitools nsis
  osslsigncode openssl
  locales
)
# The shipped programs are 32-bit: Wine's 32-bit side runs them.
foreign_packages=(wine32:i386)

sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"

missing=()
for package in "${packages[@]}" "${foreign_packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q '^install ok installed$'; then
    missing+=("$package")
  fi
done
[ -x /usr/lib/wine/wine64 ] || missing+=(wine64)
[ -x /usr/lib/wine/wine ] || missing+=(wine32:i386)
[ -f /usr/src/googletest/CMakeLists.txt ] || missing+=(googletest)

if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  if ! dpkg --print-foreign-architectures | grep -qx i386; then
    $sudo dpkg --add-architecture i386
  fi
  # A mirror caught mid-sync can fail one index (seen: bookworm-security's
  # i386 list); the others still serve, so the install is tried all the same.
  if ! $sudo apt-get update -qq; then
    echo "apt-get update failed for some index; installing from what it could read" >&2
  fi
  apt_install() {
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "$@" >/dev/null
  }
  # Without one architecture's security index, the two architectures' newest
  # versions differ and the 32-bit side cannot match the 64-bit one: the
  # release's own suite has both.
  codename="$(. /etc/os-release && echo "${VERSION_CODENAME:-}")"
  if ! apt_install "${missing[@]}"; then
    [ -n "$codename" ] || exit 1
    echo "Retrying with the packages of $codename itself" >&2
    apt_install -t "$codename" --allow-downgrades "${missing[@]}"
  fi
fi

# Wine's 32-bit loader is a 32-bit Linux program: a kernel without IA32
# emulation cannot start it, and then nothing of the shipped build can run.
if ! /usr/lib/wine/wine --version >/dev/null 2>&1; then
  echo "This machine cannot run 32-bit programs: /usr/lib/wine/wine (Wine's 32-bit side, package" >&2
  echo "wine32:i386) does not start. The shipped x86 build needs a kernel with IA32 emulation" >&2
  echo "(CONFIG_IA32_EMULATION, not switched off by ia32_emulation=0)." >&2
  exit 1
fi
