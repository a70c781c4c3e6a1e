#!/usr/bin/env bash
# Installs every Debian package tarvex needs to build, test, benchmark and
# fuzz. Run as root on Debian 12.
set -euo pipefail
export DEBIAN_FRONTEND=noninteractive
apt-get update
apt-get install -y --no-install-recommends \
  build-essential cmake pkg-config \
  libshp-dev libsqlite3-dev libsodium-dev libproj-dev proj-data \
  libgtest-dev googletest \
  gdal-bin python3-gdal \
  clang libclang-rt-14-dev
