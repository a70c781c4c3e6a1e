#!/usr/bin/env bash
# Installs every Debian package tarvex needs to build, test, benchmark, fuzz
# and package (scdoc for the man pages, dpkg-dev and file for the package's
# computed dependencies, man-db to check the installed man pages). Run as
# root on Debian 12.
set -euo pipefail
export DEBIAN_FRONTEND=noninteractive
apt-get update
apt-get install -y --no-install-recommends \
  build-essential cmake pkg-config scdoc dpkg-dev file man-db \
  libshp-dev libsqlite3-dev libsodium-dev libproj-dev proj-data \
  libgtest-dev googletest \
  gdal-bin python3-gdal \
  clang libclang-rt-14-dev
