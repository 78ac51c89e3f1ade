#!/usr/bin/env bash
# Registers a host app bundle, for the current user, as the desktop's handler of the sign-in
# callback scheme, so that "com.zadovuzuzo.recorder://auth/callback?..." opened by the browser (or
# by xdg-open / gio open) starts the bundle's executable with that URL as its one argument:
#
#   $XDG_DATA_HOME/applications/com.quorvel.desktop.desktop
#       Exec=<bundle>/Contents/MacOS/<executable> %u
#       MimeType=x-scheme-handler/com.zadovuzuzo.recorder;
#
# then refreshes that folder's MIME cache (update-desktop-database), through which GIO finds the
# claim. The running host app receives the URL from that second copy (see docs/identity.md).
#
# Usage: scripts/register-callback-scheme.sh BUNDLE.app
set -euo pipefail

usage() { sed -n '2,13p' "$0" | sed 's/^# \{0,1\}//' >&2; exit 2; }
[ $# -eq 1 ] || usage
case "$1" in -h|--help) usage ;; esac
[ -d "$1" ] || { echo "register-callback-scheme: $1 is not a bundle folder" >&2; exit 1; }
bundle=$(cd "$1" && pwd)
plist=$bundle/Contents/Info.plist
[ -r "$plist" ] || { echo "register-callback-scheme: $plist is missing" >&2; exit 1; }
executable=$(sed -n '/<key>CFBundleExecutable<\/key>/{n;s/.*<string>\(.*\)<\/string>.*/\1/p;}' "$plist")
program=$bundle/Contents/MacOS/${executable:-Quorvel}
[ -x "$program" ] || { echo "register-callback-scheme: $program is not executable" >&2; exit 1; }

# The Exec key's quoting rules: a path with reserved characters is quoted, and the four characters
# that stay special inside quotes are escaped (then each backslash once more for the string value).
case "$program" in
  *[!A-Za-z0-9_./+-]*)
    quoted=$(printf '%s' "$program" | sed -e 's/[\\"`$]/\\&/g' -e 's/\\/\\\\/g')
    exec_path="\"$quoted\"" ;;
  *) exec_path=$program ;;
esac

data_home=${XDG_DATA_HOME:-$HOME/.local/share}
applications=$data_home/applications
mkdir -p "$applications"
entry=$applications/com.quorvel.desktop.desktop
temporary=$(mktemp "$applications/.com.quorvel.desktop.desktop.XXXXXX")
cat > "$temporary" <<ENTRY
[Desktop Entry]
Type=Application
Name=Quorvel
Exec=$exec_path %u
MimeType=x-scheme-handler/com.zadovuzuzo.recorder;
NoDisplay=true
ENTRY
chmod 644 "$temporary"
mv "$temporary" "$entry"
update-desktop-database "$applications"
printf '%s\n' "$entry"
