#!/usr/bin/env bash
# Lays out a host app bundle with the launcher inside it (installed as quorvel-make-bundle; the demo
# and the tests run it from the source tree):
#
#   DEST/Quorvel.app/Contents/Info.plist                  CFBundleIdentifier com.quorvel.desktop,
#                                                         CFBundleExecutable Quorvel (+ --key pairs)
#   DEST/Quorvel.app/Contents/MacOS/Quorvel               the host app's executable (--executable;
#                                                         by default the demo host)
#   DEST/Quorvel.app/Contents/Frameworks/libQuorvelShellBridge.so*
#   DEST/Quorvel.app/Contents/Library/LoginItems/QuorvelLauncher.app/Contents/Info.plist
#   DEST/Quorvel.app/Contents/Library/LoginItems/QuorvelLauncher.app/Contents/MacOS/QuorvelLauncher
#   DEST/Quorvel.app/Contents/Library/LoginItems/QuorvelLauncher.app/Contents/MacOS/quorvel-codesign
#   DEST/Quorvel.app/Contents/QuorvelSignature/          with --sign only
#
# Usage: scripts/make-bundle.sh [--build DIR] [--executable PATH] [--name NAME.app] [--identifier ID]
#                               [--key KEY=VALUE]... [--sign KEY.pem] DEST
#   --build DIR        a build folder or an install prefix, holding bin/ and lib/ (default:
#                      $QUORVEL_BUILD_DIR, else the prefix this script is installed in, else build)
#   --executable PATH  the host app's executable (default DIR/bin/quorvel-demo-host); link it with
#                      -Wl,-rpath,'$ORIGIN/../Frameworks' so that it finds the library in the bundle
#   --name NAME.app    bundle folder name (default Quorvel.app)
#   --identifier ID    host bundle identifier (default com.quorvel.desktop)
#   --key KEY=VALUE    one more string in the host Info.plist (repeatable), e.g.
#                      --key QuorvelIdentityBrowserCallbackURL=https://example.test/auth/desktop/callback
#   --sign KEY.pem     sign the laid-out bundle with this Ed25519 private key
#                      (quorvel-codesign sign --key); the build's development key is
#                      BUILD/codesign/development-signing-key.pem
# Prints the bundle's path. Files are copied, not linked: a running program is recognised by the
# real path of its executable, which must lie inside the bundle. The launcher checks bundles in its
# own process; the signing tool beside it is there for checks by hand. An existing bundle at the
# same place is replaced, only once the new one is complete (and signed).
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
if [ -n "${QUORVEL_BUILD_DIR:-}" ]; then
  build=$QUORVEL_BUILD_DIR
elif [ -e "$here/../lib/libQuorvelShellBridge.so" ]; then
  build=$here/..
else
  build=$here/../build
fi
host_binary=
name=Quorvel.app
identifier=com.quorvel.desktop
keys=()
signing_key=

usage() { sed -n '2,31p' "$0" | sed 's/^# \{0,1\}//' >&2; exit 2; }

while [ $# -gt 0 ]; do
  case "$1" in
    --build) build=$2; shift 2 ;;
    --executable) [ -n "${2:-}" ] || usage; host_binary=$2; shift 2 ;;
    --name) name=$2; shift 2 ;;
    --identifier) identifier=$2; shift 2 ;;
    --key) [[ "$2" == *=* ]] || usage; keys+=("$2"); shift 2 ;;
    --sign) [ -n "${2:-}" ] || usage; signing_key=$2; shift 2 ;;
    -h|--help) usage ;;
    --*) echo "make-bundle: unknown option $1" >&2; usage ;;
    *) break ;;
  esac
done
[ $# -eq 1 ] || usage
dest=$1
case "$name" in *.app) ;; *) echo "make-bundle: --name must end in .app" >&2; exit 2 ;; esac

host_binary=${host_binary:-$build/bin/quorvel-demo-host}
launcher_binary=$build/bin/QuorvelLauncher
codesign_binary=$build/bin/quorvel-codesign
for f in "$host_binary" "$launcher_binary" "$codesign_binary"; do
  [ -x "$f" ] || { echo "make-bundle: $f is missing; build first" >&2; exit 1; }
done
libraries=("$build"/lib/libQuorvelShellBridge.so*)
[ -e "${libraries[0]}" ] || { echo "make-bundle: $build/lib/libQuorvelShellBridge.so is missing" >&2; exit 1; }
if [ -n "$signing_key" ] && [ ! -r "$signing_key" ]; then
  echo "make-bundle: signing key $signing_key is not readable" >&2; exit 1
fi

xml_escape() {
  local s=$1
  s=${s//&/&amp;}; s=${s//</&lt;}; s=${s//>/&gt;}
  printf '%s' "$s"
}

# write_plist FILE KEY=VALUE...
write_plist() {
  local file=$1; shift
  {
    printf '<?xml version="1.0" encoding="UTF-8"?>\n'
    printf '<!DOCTYPE plist PUBLIC "-//Apple//DTD PLIST 1.0//EN" "http://www.apple.com/DTDs/PropertyList-1.0.dtd">\n'
    printf '<plist version="1.0">\n<dict>\n'
    local pair
    for pair in "$@"; do
      printf '  <key>%s</key>\n  <string>%s</string>\n' "$(xml_escape "${pair%%=*}")" "$(xml_escape "${pair#*=}")"
    done
    printf '</dict>\n</plist>\n'
  } > "$file"
}

mkdir -p "$dest"
bundle=$(cd "$dest" && pwd)/$name
staging=$(mktemp -d "$(dirname "$bundle")/.$name.staged.XXXXXX")
trap 'rm -rf "$staging"' EXIT
# mktemp makes its folder private; a bundle under /opt must be readable by every user.
chmod 0755 "$staging"

contents=$staging/Contents
launcher=$contents/Library/LoginItems/QuorvelLauncher.app/Contents
mkdir -p -m 0755 "$contents" "$contents/MacOS" "$contents/Frameworks" "$launcher/MacOS"
chmod 0755 "$contents/Library" "$contents/Library/LoginItems" "$launcher/.." "$launcher"
write_plist "$contents/Info.plist" CFBundleIdentifier="$identifier" CFBundleExecutable=Quorvel \
  CFBundleName="${name%.app}" CFBundlePackageType=APPL ${keys[@]+"${keys[@]}"}
cp "$host_binary" "$contents/MacOS/Quorvel"
cp -P "${libraries[@]}" "$contents/Frameworks/"
write_plist "$launcher/Info.plist" CFBundleIdentifier="$identifier.launcher" \
  CFBundleExecutable=QuorvelLauncher CFBundleName=QuorvelLauncher CFBundlePackageType=APPL
cp "$launcher_binary" "$launcher/MacOS/QuorvelLauncher"
cp "$codesign_binary" "$launcher/MacOS/quorvel-codesign"
# Our binaries go in without their debug information (the build folder keeps it, for a debugger);
# the host executable is the app's own and is copied as it is.
if command -v strip >/dev/null; then
  strip --strip-unneeded "$contents"/Frameworks/libQuorvelShellBridge.so.*.*
  strip "$launcher/MacOS/QuorvelLauncher" "$launcher/MacOS/quorvel-codesign"
fi

# The manifest holds paths relative to the bundle, so the staged folder signs as the final one.
if [ -n "$signing_key" ]; then
  "$codesign_binary" sign --key "$signing_key" "$staging" >/dev/null \
    || { echo "make-bundle: signing with $signing_key failed" >&2; exit 1; }
fi

rm -rf "$bundle"
mv "$staging" "$bundle"
trap - EXIT
printf '%s\n' "$bundle"
