# Shared by scripts/run and scripts/test: installs the Debian packages the
# build needs (only those missing) and configures + builds the project.
set -euo pipefail

VELMORA_ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
BUILD_DIR="${VELMORA_BUILD_DIR:-$VELMORA_ROOT/build}"

# Unversioned names where Debian has them (libboost-dev, the postgresql
# metapackage), so the same list serves every release: each release's
# archive maps them to its own Boost and PostgreSQL server.
VELMORA_PACKAGES=(
    cmake g++ make pkg-config
    qt6-base-dev qt6-base-dev-tools qt6-positioning-dev libqt6positioning6-plugins
    libqt6sql6-sqlite libboost-dev libsystemd-dev
    libgl-dev fonts-dejavu-core tzdata xvfb xauth dpkg-dev file lintian
    libqt6sql6-psql postgresql nginx-light
    libosmium2-dev libprotozero-dev zlib1g-dev libbz2-dev libexpat1-dev osmium-tool
    qtkeychain-qt6-dev libsecret-1-0 gnome-keyring dbus libsecret-tools xdotool openssl
)

velmora_install_packages() {
    local missing=()
    for pkg in "${VELMORA_PACKAGES[@]}"; do
        dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q "install ok installed" || missing+=("$pkg")
    done
    if ((${#missing[@]})); then
        local sudo=""
        [ "$(id -u)" -ne 0 ] && sudo="sudo"
        echo "Installing: ${missing[*]}"
        $sudo apt-get update
        DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y --no-install-recommends "${missing[@]}"
    fi
}

velmora_build() {
    cmake -S "$VELMORA_ROOT" -B "$BUILD_DIR" -DCMAKE_BUILD_TYPE="${VELMORA_BUILD_TYPE:-RelWithDebInfo}" "$@"
    cmake --build "$BUILD_DIR" -j"$(nproc)"
}
