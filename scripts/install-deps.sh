#!/bin/sh
# Installs, from Debian's packages, everything the build and the test suite
# need. Uses sudo when not run as root.
set -eu
if [ "$(id -u)" -eq 0 ]; then sudo=; else sudo=sudo; fi
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update
$sudo apt-get install -y --no-install-recommends \
    build-essential cmake pkg-config \
    libfltk1.3-dev libhidapi-dev libcli11-dev nlohmann-json3-dev \
    libgtest-dev clang libclang-rt-dev \
    xvfb xauth xdotool xclip x11-utils x11-apps imagemagick fonts-dejavu-core \
    desktop-file-utils
