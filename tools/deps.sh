# SPDX-License-Identifier: MIT
# Sourced by run.sh and test.sh: makes sure the Debian packages the build needs are there.
# As root it installs what is missing; otherwise it prints the exact apt-get line and stops.

vorlagen_packages=(cmake ninja-build g++ qt6-base-dev qt6-serialport-dev qt6-qpa-plugins
                   fonts-dejavu-core)

vorlagen_ensure_packages() {
    local missing=() pkg
    for pkg in "${vorlagen_packages[@]}" "$@"; do
        if ! dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q 'install ok installed'; then
            missing+=("$pkg")
        fi
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    if [ "$(id -u)" -ne 0 ]; then
        echo "Nedostaju paketi. Instalirajte ih pa pokrenite ponovo:" >&2
        echo "  sudo apt-get install -y ${missing[*]}" >&2
        exit 1
    fi
    echo "Instaliram: ${missing[*]}"
    export DEBIAN_FRONTEND=noninteractive
    apt-get update -qq
    apt-get install -y -qq --no-install-recommends "${missing[@]}"
}
