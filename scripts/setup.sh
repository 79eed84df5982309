#!/usr/bin/env bash
# Installs the Debian packages the application, its sample service and its tests need.
# Does nothing when they are all present already.
set -euo pipefail

PACKAGES=(
  build-essential cmake pkg-config
  clang-format  # the formatting check CI runs
  qtbase5-dev libqt5webkit5-dev qttools5-dev-tools
  libqt5x11extras5-dev  # whether a compositor runs, for the desktop sentence window
  qttranslations5-l10n  # Qt's own dialogs in Chinese
  libmpv-dev libquazip1-qt5-dev
  libavformat-dev libavcodec-dev libavutil-dev libswresample-dev libqt5sql5-sqlite  # local media and the media library
  libaubio-dev libebur128-dev libpulse-dev  # shadowing: pitch, loudness, the microphone
  libsqlite3-dev  # the media library test stops SQLite in the middle of a write
  libcpp-httplib-dev libssl-dev openssl curl
  xvfb xauth libgl1-mesa-dri x11-utils
  openbox  # the window manager the GUI tests run under
  libxtst-dev  # real pointer input for the window-dragging test
  pulseaudio pulseaudio-utils  # the null sink the tests play through; pactl checks it answers, paplay feeds the tests' virtual microphone
  locales  # localedef: the player's locale test makes a de_DE locale of its own
  espeak-ng sox ffmpeg
  mpv  # the command line player: baseline of bench/bench_player
  libbenchmark-dev
  python3  # scripts/includegraph.py, run by the test suite
  sqlite3 unzip  # the export test reads packages with tools of their own
  poppler-utils
  lintian desktop-file-utils appstream  # the package check
  fonts-dejavu-core fonts-droid-fallback fonts-urw-base35
)

missing=()
for p in "${PACKAGES[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

echo "Installing: ${missing[*]}"
SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
