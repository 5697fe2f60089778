# What scripts/install-deps and scripts/install-deps-windows share, sourced
# by both: running a command as root, and installing the Debian packages of
# a list that are not installed yet.

as_root() {
  if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi
}

# install_missing [--updated] PACKAGE...: installs those of the packages that
# are not installed, after refreshing the package lists unless --updated says
# that was just done. Does nothing when all are installed.
install_missing() {
  local updated=0 missing=() p
  if [ "${1:-}" = --updated ]; then
    updated=1
    shift
  fi
  for p in "$@"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
      missing+=("$p")
    fi
  done
  [ ${#missing[@]} -gt 0 ] || return 0
  echo "Installing: ${missing[*]}"
  [ $updated -eq 1 ] || as_root apt-get update -qq
  as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends \
    "${missing[@]}" >/dev/null
}
