#!/usr/bin/env bash
# Installs the build into a temporary prefix, then builds a plain C program against it twice
# (through pkg-config, and through the CMake package) and runs it on a private session bus.
# A sanitized library needs its runtime first in the program, so the program is built with
# the same sanitizers.
set -euo pipefail
build=$1 here=$2 sanitize=${3:-}
sanitize_flags=
[ -n "$sanitize" ] && sanitize_flags="-fsanitize=$sanitize -fno-omit-frame-pointer"
work=$(mktemp -d /tmp/quorvel-package-XXXXXX)
bus_pid=
cleanup() { [ -n "$bus_pid" ] && kill "$bus_pid" 2>/dev/null; rm -rf "$work"; }
trap cleanup EXIT

cmake --install "$build" --prefix "$work/prefix" >/dev/null
export PKG_CONFIG_PATH=$work/prefix/lib/pkgconfig
cc -std=c11 -Wall -Wextra -Werror $sanitize_flags -o "$work/consumer-pc" "$here/consumer.c" \
  $(pkg-config --cflags --libs quorvel-shell-bridge) -Wl,-rpath,"$work/prefix/lib"

mkdir -p "$work/cmake-project"
cat > "$work/cmake-project/CMakeLists.txt" <<CMAKE
cmake_minimum_required(VERSION 3.25)
project(consumer C)
find_package(QuorvelShellBridge 0.1 REQUIRED)
add_executable(consumer-cmake "$here/consumer.c")
target_link_libraries(consumer-cmake PRIVATE Quorvel::ShellBridge)
CMAKE
cmake -S "$work/cmake-project" -B "$work/cmake-build" -DCMAKE_PREFIX_PATH="$work/prefix" \
  -DCMAKE_C_FLAGS="$sanitize_flags" -DCMAKE_EXE_LINKER_FLAGS="$sanitize_flags" >/dev/null
cmake --build "$work/cmake-build" >/dev/null

bus=$(dbus-daemon --session --fork --print-address=1 --print-pid=1)
bus_pid=$(printf '%s\n' "$bus" | sed -n 2p)
export DBUS_SESSION_BUS_ADDRESS=$(printf '%s\n' "$bus" | sed -n 1p)
export DBUS_SYSTEM_BUS_ADDRESS=unix:path=$work/no-system-bus
export HOME=$work/home XDG_DATA_HOME=$work/home/.local/share XDG_CONFIG_HOME=$work/home/.config
export GSETTINGS_BACKEND=memory QUORVEL_LOG=stderr
mkdir -p "$HOME"
for program in "$work/consumer-pc" "$work/cmake-build/consumer-cmake"; do
  echo "== $(basename "$program")"
  timeout 60 "$program"
done
