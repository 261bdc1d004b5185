#!/bin/sh
# Installs everything Brindell needs to build, run and test on Debian 12.
set -eu
if [ "$(id -u)" -eq 0 ]; then SUDO=; else SUDO=sudo; fi
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -q
$SUDO apt-get install -y -q --no-install-recommends \
    cmake ninja-build ccache g++ clang clang-format libclang-rt-14-dev pkg-config \
    qt6-base-dev qt6-svg-dev libgl-dev \
    libpipewire-0.3-dev libspa-0.2-dev \
    libx11-dev libcurl4-openssl-dev libssl-dev openssl nlohmann-json3-dev uuid-dev \
    libgtest-dev libgmock-dev libbenchmark-dev \
    pipewire pipewire-bin wireplumber pipewire-pulse pipewire-alsa pulseaudio-utils sox \
    mpv gstreamer1.0-tools gstreamer1.0-pipewire gstreamer1.0-plugins-base \
    gstreamer1.0-pulseaudio alsa-utils ffmpeg \
    xvfb xauth xdotool dbus dbus-bin \
    desktop-file-utils appstream dpkg-dev man-db groff-base gzip
