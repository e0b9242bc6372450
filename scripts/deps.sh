# Installs the Debian packages the build needs, only those that are missing.
# Sourced by run.sh and test.sh; quiet when everything is already there.
quillon_ensure_packages() {
  local missing=() pkg
  for pkg in "$@"; do
    dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q 'install ok installed' || missing+=("$pkg")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  echo "Installing missing packages: ${missing[*]}"
  local sudo=""
  [ "$(id -u)" -ne 0 ] && sudo="sudo"
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
}

QUILLON_BUILD_PACKAGES=(cmake ninja-build g++ clang libclang-rt-14-dev libgtest-dev libbenchmark-dev
                        qt6-base-dev qt6-base-dev-tools libgl-dev
                        # compressed logs: gzip, xz and zstd
                        zlib1g-dev liblzma-dev libzstd-dev pkg-config
                        # the install and package check: validators, MIME compiler, man page
                        # checker, and dpkg-shlibdeps for the package's dependencies
                        desktop-file-utils libxml2-utils shared-mime-info groff-base dpkg-dev
                        # the packet capture test dissects the exported packets
                        tshark)
