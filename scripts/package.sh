#!/bin/sh
# The packaging checks, which .ci/run runs after the test suite: installs
# the tools they need (through sudo when not root), then runs each part,
# printing how long each took: the two Debian packages, then the Windows
# build when its script is there.
set -eu
cd "$(dirname "$0")/.."
if [ "$(id -u)" -eq 0 ]; then sudo=; else sudo=sudo; fi

# part NAME COMMAND...: runs one part and prints its time, also when it
# fails; a failed part ends the checks.
part() {
    name=$1
    shift
    start=$(date +%s)
    status=0
    "$@" || status=$?
    result="$(( $(date +%s) - start )) s"
    [ $status -eq 0 ] || result="$result, FAILED with status $status"
    echo "=== $name: $result"
    return $status
}

install_tools() {
    $sudo apt-get update &&
    $sudo env DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends \
        dpkg-dev file lintian appstream man-db bash-completion \
        desktop-file-utils shared-mime-info libglib2.0-bin xdg-utils
}

part tools install_tools
part deb scripts/package-deb.sh
if [ -e scripts/package-windows.sh ]; then
    part windows scripts/package-windows.sh
fi
