#!/bin/bash
# Installs the Debian 12 packages the build, the tests and the test discs need.
set -euo pipefail
export DEBIAN_FRONTEND=noninteractive
SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO=sudo
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends \
  cmake g++ make pkg-config ca-certificates \
  libgtest-dev libgmock-dev \
  libdvdread-dev \
  libavcodec-dev libavformat-dev libavutil-dev libswscale-dev libswresample-dev \
  qt6-base-dev qt6-multimedia-dev libgl-dev \
  ffmpeg dvdauthor xorriso genisoimage mjpegtools lsdvd >/dev/null
