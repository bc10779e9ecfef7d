# Sourced by the other scripts: installs the Debian packages the build needs
# when any is missing (as root), or prints the install line and stops.
STREWMILL_PACKAGES=(cmake ninja-build g++ clang-14 libclang-rt-14-dev libcli11-dev libspdlog-dev
                    libfmt-dev libssl-dev libgtest-dev libgmock-dev libbenchmark-dev
                    libexpat1-dev)

ensure_deps() {
  if ! command -v dpkg-query >/dev/null 2>&1; then
    echo "note: dpkg-query not found; assuming these are installed: ${STREWMILL_PACKAGES[*]}" >&2
    return 0
  fi
  local missing=() pkg
  for pkg in "${STREWMILL_PACKAGES[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q 'install ok installed'; then
      missing+=("$pkg")
    fi
  done
  [ ${#missing[@]} -eq 0 ] && return 0

  if [ "$(id -u)" -ne 0 ]; then
    echo "Missing packages: ${missing[*]}" >&2
    echo "Install them as root, then run this script again:" >&2
    echo "  apt-get update && apt-get install -y ${missing[*]}" >&2
    exit 1
  fi
  echo "Installing missing packages: ${missing[*]}" >&2
  apt-get update
  DEBIAN_FRONTEND=noninteractive apt-get install -y "${missing[@]}"
}
