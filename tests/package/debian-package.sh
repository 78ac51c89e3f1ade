#!/usr/bin/env bash
# Builds the Debian package of a build folder (what `make deb` does) into a temporary folder and
# checks it as apt would see it: exactly the installed files, under /usr, folders 0755, programs
# without debug information, the runtime dependencies declared, and a program that runs from it.
set -euo pipefail
build=$1
work=$(mktemp -d /tmp/quorvel-deb-XXXXXX)
trap 'rm -rf "$work"' EXIT
fail() { echo "debian-package: $*" >&2; exit 1; }

(cd "$work" && cpack --config "$build/CPackConfig.cmake" -G DEB >"$work/cpack.log" 2>&1) ||
  { cat "$work/cpack.log" >&2; fail "cpack failed"; }
debs=("$work"/quorvel-shell-bridge_*_*.deb)
[ -e "${debs[0]}" ] || fail "no package was made"
deb=${debs[0]}

expected=$(cat <<'LIST'
./usr/bin/QuorvelLauncher
./usr/bin/quorvel-codesign
./usr/bin/quorvel-doctor
./usr/bin/quorvel-make-bundle
./usr/bin/quorvel-register-callback-scheme
./usr/include/quorvel_shell_bridge.h
./usr/lib/cmake/QuorvelShellBridge/QuorvelShellBridgeConfig.cmake
./usr/lib/cmake/QuorvelShellBridge/QuorvelShellBridgeConfigVersion.cmake
./usr/lib/cmake/QuorvelShellBridge/QuorvelShellBridgeTargets.cmake
./usr/lib/libQuorvelShellBridge.so
./usr/lib/libQuorvelShellBridge.so.0
./usr/lib/libQuorvelShellBridge.so.0.1.0
./usr/lib/pkgconfig/quorvel-shell-bridge.pc
LIST
)
# Listed once into a file: grep -q on a pipe would end dpkg-deb early with SIGPIPE.
dpkg-deb -c "$deb" > "$work/contents"
# The per-configuration targets file is named after the build type; it is checked apart.
actual=$(awk '$1 !~ /^d/ {print $6}' "$work/contents" | grep -v 'QuorvelShellBridgeTargets-' | sort)
[ "$actual" = "$(printf '%s\n' "$expected" | sort)" ] ||
  fail "unexpected file list:"$'\n'"$(diff <(printf '%s\n' "$expected" | sort) <(printf '%s\n' "$actual") || true)"
grep -q 'lib/cmake/QuorvelShellBridge/QuorvelShellBridgeTargets-.*\.cmake$' "$work/contents" ||
  fail "the CMake package lacks its per-configuration targets file"
odd=$(awk '$1 ~ /^d/ && $1 != "drwxr-xr-x" {print $6}' "$work/contents")
[ -z "$odd" ] || fail "folders not 0755: $odd"

depends=$(dpkg-deb --field "$deb" Depends)
for needed in libglib2.0-0 libsecret-1-0 libcurl4 libssl3 libplist3 libsystemd0 libuuid1 \
              libstdc++6 libc6 libarchive-tools desktop-file-utils; do
  [[ ", $depends," == *", $needed "* || ", $depends," == *", $needed,"* ]] ||
    fail "Depends does not name $needed: $depends"
done
[ "$(dpkg-deb --field "$deb" Package)" = quorvel-shell-bridge ] || fail "wrong package name"

dpkg-deb -x "$deb" "$work/root"
for binary in usr/bin/QuorvelLauncher usr/bin/quorvel-codesign usr/lib/libQuorvelShellBridge.so.0.1.0; do
  ! readelf -S "$work/root/$binary" | grep -q '\.debug_info' || fail "$binary carries debug information"
done
key=$(LD_LIBRARY_PATH=$work/root/usr/lib "$work/root/usr/bin/quorvel-codesign" print-trusted-key)
[[ "$key" == *"BEGIN PUBLIC KEY"* ]] || fail "quorvel-codesign from the package does not run"
echo "debian-package: $(basename "$deb"), $(stat -c %s "$deb") bytes: file list, folders, dependencies and programs as expected"
