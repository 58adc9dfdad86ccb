# Sourced by ./run and ./test: installs the Debian packages they need.
# shellcheck shell=bash

# Installs the missing ones among the given packages (name or name:arch) with
# apt-get when running as root; otherwise names them and fails.
require_packages() {
  local missing=() package
  for package in "$@"; do
    [[ $(dpkg-query -W -f='${Status}' "$package" 2>/dev/null) == 'install ok installed' ]] ||
      missing+=("$package")
  done
  ((${#missing[@]} == 0)) && return 0
  if ((EUID != 0)); then
    echo "Missing packages; install them as root with:" >&2
    echo "  apt-get update && apt-get install ${missing[*]}" >&2
    return 1
  fi
  echo "Installing ${missing[*]}"
  if [[ " ${missing[*]} " == *':i386 '* ]] &&
    ! grep -qx i386 <<<"$(dpkg --print-foreign-architectures)"; then
    dpkg --add-architecture i386
  fi
  apt-get update -qq &&
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${missing[@]}" >/dev/null
}

# Makes the German locale that the Wine runs use (German button labels), as
# root; without root it names what to do.
require_german_locale() {
  grep -qix 'de_DE.utf8' <<<"$(locale -a 2>/dev/null)" && return 0
  if ((EUID != 0)); then
    echo "Enable de_DE.UTF-8 in /etc/locale.gen and run locale-gen as root." >&2
    return 1
  fi
  sed -i 's/^# *\(de_DE.UTF-8 UTF-8\)/\1/' /etc/locale.gen
  grep -q '^de_DE.UTF-8 UTF-8' /etc/locale.gen || echo 'de_DE.UTF-8 UTF-8' >>/etc/locale.gen
  locale-gen >/dev/null
}
