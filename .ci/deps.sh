#!/bin/bash
# Installs the Debian packages listed in .ci/packages that are missing. As root it runs
# apt-get itself; otherwise it prints the one command to run and fails.
set -euo pipefail
cd "$(dirname "$0")"
mapfile -t wanted < <(sed -e 's/#.*//' -e '/^[[:space:]]*$/d' packages)
missing=()
for pkg in "${wanted[@]}"; do
    status=$(dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null || true)
    [[ "$status" == "install ok installed" ]] || missing+=("$pkg")
done
[[ ${#missing[@]} -eq 0 ]] && exit 0
if [[ $(id -u) -eq 0 ]]; then
    echo "Installing: ${missing[*]}"
    export DEBIAN_FRONTEND=noninteractive
    apt-get update -qq
    apt-get install -y -qq --no-install-recommends "${missing[@]}"
else
    echo "Missing packages. Run:"
    echo "  sudo apt-get install -y ${missing[*]}"
    exit 1
fi
