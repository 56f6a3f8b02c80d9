# Shared by scripts/run and scripts/test: package installation and building.

BUILD_PACKAGES="g++ cmake ninja-build pkg-config qt6-base-dev libjpeg62-turbo-dev libssl-dev qtkeychain-qt6-dev qt6-wayland libqt6sql6-sqlite"
# SFTP publishing.
BUILD_PACKAGES="$BUILD_PACKAGES libssh-dev"
TEST_PACKAGES="libgtest-dev libbenchmark-dev clang libclang-rt-14-dev php-cli xvfb xauth trayer parcellite
  xdotool xclip x11-utils openbox imagemagick libjpeg-turbo-progs python3-pyftpdlib vsftpd curl
  desktop-file-utils appstream dpkg-dev openssl stunnel4 python3-openssl
  gnome-keyring dbus libsecret-tools libglib2.0-bin
  sway swaybg grim xdg-desktop-portal xdg-desktop-portal-wlr xdg-desktop-portal-gtk pipewire
  wl-clipboard wtype python3-dbus python3-gi sqlite3 iproute2 ccache"
# The SFTP tests' real server and the benchmark's scp.
TEST_PACKAGES="$TEST_PACKAGES openssh-server openssh-sftp-server openssh-client"

as_root() {
    if [ "$(id -u)" = 0 ]; then "$@"; else sudo "$@"; fi
}

# Installs the Debian packages of the arguments that are not installed yet.
ensure_packages() {
    local missing=()
    for p in "$@"; do
        dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' ||
            missing+=("$p")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    echo "Installing: ${missing[*]}"
    as_root env DEBIAN_FRONTEND=noninteractive apt-get update -q
    as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends \
        "${missing[@]}"
}

# build DIR [cmake options...]: configures once, then builds incrementally.
build() {
    local dir=$1
    shift
    if [ ! -f "$dir/build.ninja" ]; then
        local launcher=()
        # With ccache, a fresh clone reuses what earlier builds compiled.
        command -v ccache >/dev/null &&
            launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)
        cmake -S . -B "$dir" -G Ninja "${launcher[@]}" "$@"
    fi
    # Paths relative to the clone, so that another clone's objects match.
    CCACHE_BASEDIR=$PWD CCACHE_NOHASHDIR=1 cmake --build "$dir" -j "$(nproc)"
}
