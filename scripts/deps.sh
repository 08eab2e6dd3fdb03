# Sourced by scripts/test and scripts/run: the one list of Debian 12 packages Vellora needs,
# and the installer that brings in whichever of them a machine lacks.

VELLORA_PACKAGES=(
  # toolchain
  build-essential cmake ninja-build pkg-config git clang-format
  # tests and benchmarks
  libgtest-dev libgmock-dev googletest libbenchmark-dev
  # HTTP client and the loopback servers of tests, benchmarks and the sample site
  libcurl4-openssl-dev libcpp-httplib-dev
  # windows, tray, sound
  qt6-base-dev qt6-multimedia-dev
  gstreamer1.0-plugins-base gstreamer1.0-plugins-good
  # a display for the end-to-end test and for scripts/run on a machine without one, and
  # xdotool for the test's clicks
  xvfb xauth xdotool
  # Chinese glyphs: Linux has none of the Windows fonts the windows name
  fonts-wqy-microhei
)

# Installs the missing packages quietly; prints apt's output only when it fails.
vellora_install_packages() {
  local missing=()
  local pkg
  for pkg in "${VELLORA_PACKAGES[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q 'install ok installed'; then
      missing+=("$pkg")
    fi
  done
  if [ ${#missing[@]} -eq 0 ]; then
    return 0
  fi
  local sudo=()
  if [ "$(id -u)" -ne 0 ]; then
    sudo=(sudo)
  fi
  echo "installing ${#missing[@]} Debian packages: ${missing[*]}"
  local log
  log="$(mktemp)"
  if ! { "${sudo[@]}" apt-get update -qq &&
         DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -qq \
           --no-install-recommends "${missing[@]}"; } >"$log" 2>&1; then
    cat "$log" >&2
    rm -f "$log"
    echo "package installation failed" >&2
    return 1
  fi
  rm -f "$log"
}
