#!/usr/bin/env bash
# Installs, from Debian's archive, what building and testing marlinok needs.
# Does nothing when everything is already there. The PKCS #11 module is tested
# with real clients (pkcs11-tool, the OpenSSL engine, ssh-keygen, p11-kit) and
# benchmarked beside SoftHSMv2.
set -euo pipefail
packages=(build-essential cmake ninja-build pkg-config libssl-dev libsqlite3-dev
  libgtest-dev libgmock-dev libbenchmark-dev clang libclang-rt-14-dev valgrind
  dpkg-dev man-db opensc libengine-pkcs11-openssl softhsm2 libp11-kit-dev p11-kit
  openssh-client)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q '^install ok installed' || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0
echo "installing: ${missing[*]}"
sudo=""
[ "$(id -u)" -eq 0 ] || sudo=sudo
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -qq
$sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
