# Chapter: an update of the host app dies half-way; before the next launch the launcher rolls the
# bundle back from the snapshot archive. Sourced by scripts/demo.sh (helpers in scripts/demo-lib.sh).

say "Update recovery rolls a broken update back before the launch"

update_key=$QUORVEL_BUILD_DIR/codesign/development-signing-key.pem
update_launcher_binary=$QUORVEL_BUILD_DIR/bin/QuorvelLauncher
if [ ! -x "$update_launcher_binary" ] || [ ! -x "$QUORVEL_BUILD_DIR/bin/quorvel-codesign" ] ||
   [ ! -x "$QUORVEL_SOURCE_DIR/scripts/make-bundle.sh" ]; then
  note "skipped: this build has no launcher yet"
elif [ ! -r "$update_key" ]; then
  note "skipped: this build trusts a release key, so the demo cannot sign bundles it accepts"
else
  note "version 1.4.0 is installed and signed with this build's development key"
  update_bundle=$("$QUORVEL_SOURCE_DIR/scripts/make-bundle.sh" --build "$QUORVEL_BUILD_DIR" \
    --key CFBundleShortVersionString=1.4.0 --sign "$update_key" "$DEMO_ROOT/UpdateDemo")
  update_contents=$update_bundle/Contents
  update_launcher_dir=$update_contents/Library/LoginItems/QuorvelLauncher.app/Contents/MacOS
  update_launcher_exe=$update_launcher_dir/QuorvelLauncher
  # make-bundle.sh puts the signing tool beside the launcher, where the launcher looks for it.
  update_tool=$update_launcher_dir/quorvel-codesign
  update_host_exe=$update_contents/MacOS/Quorvel
  update_dir=$XDG_DATA_HOME/com.quorvel.desktop/updates
  update_marker=$XDG_DATA_HOME/com.quorvel.desktop/maintenance.stop
  update_log=$DEMO_ROOT/update-launcher.log
  mkdir -p "$update_dir"

  update_verify() { "$update_tool" verify --deep --strict "$update_bundle"; }
  update_version() {
    sed -n '/<key>CFBundleShortVersionString<\/key>/{n;s/.*<string>\(.*\)<\/string>.*/\1/p;}' \
      "$update_contents/Info.plist"
  }

  update_verify && note "quorvel-codesign verify --deep --strict: valid"
  bsdtar -c -z -f "$update_dir/Quorvel-1.4.0.tar.gz" -C "$(dirname "$update_bundle")" "$(basename "$update_bundle")"
  note "the updater keeps a snapshot: ${update_dir#"$HOME/"}/Quorvel-1.4.0.tar.gz"

  note "the updater starts installing 1.5.0: receipt \"installing\", installer marker, new files..."
  cat > "$update_dir/receipt.json" <<RECEIPT
{"schema":1,"from_version":"1.4.0","to_version":"1.5.0","artifact_sha256":"0000","snapshot_path":"$update_dir/Quorvel-1.4.0.tar.gz","state":"installing","written_at":"$(date -u +%Y-%m-%dT%H:%M:%SZ)"}
RECEIPT
  printf 'update-install 1.5.0\n' > "$update_marker"
  sed -i 's/<string>1\.4\.0<\/string>/<string>1.5.0<\/string>/' "$update_contents/Info.plist"
  head -c 4096 "$update_host_exe" > "$update_host_exe.part" && mv "$update_host_exe.part" "$update_host_exe"
  chmod +x "$update_host_exe"
  note "...and dies half-way: Info.plist says $(update_version), the host executable is cut off after 4 KiB"
  update_verify 2>&1 | sed 's/^/   | /' || true

  # Live processes running the host app's executable.
  update_host_pids() {
    local p
    for p in /proc/[0-9]*; do
      [ "$(readlink "$p/exe" 2>/dev/null)" = "$update_host_exe" ] && printf '%s\n' "${p#/proc/}"
    done
    return 0
  }
  update_host_running() { [ -n "$(update_host_pids)" ]; }
  update_gone() { ! kill -0 "$1" 2>/dev/null; }

  note "starting QuorvelLauncher"
  "$update_launcher_exe" >"$update_log" 2>&1 &
  update_launcher_pid=$!
  demo_track "$update_launcher_pid"
  if wait_for 30 update_host_running; then
    update_host=$(update_host_pids)
    demo_track "$update_host"
    sleep 0.2
    sed 's/^[^:]*com\.quorvel\.desktop \([A-Za-z]*\) [a-z]*: /   | \1: /; s/^quorvel-demo-host/   | host app:/; s/^lifecycle /   | host app: lifecycle /' "$update_log"
    note "the host app runs again as pid $update_host, from the restored bundle:"
    note "  Info.plist CFBundleShortVersionString: $(update_version)"
    update_verify && note "  quorvel-codesign verify --deep --strict: valid"
    note "  hold marker QUORVEL_UPDATE_HOLD: $(cat "$update_dir/QUORVEL_UPDATE_HOLD")"
    note "  receipt: $(cat "$update_dir/receipt.json")"
    [ -e "$update_marker" ] || note "  the installer marker was released"
    note "  beside the bundle: $(ls -A "$(dirname "$update_bundle")" | tr '\n' ' ')"
  else
    sed 's/^/   | /' "$update_log"
    note "the host app did not start (unexpected)"
  fi

  note "stopping: stop marker for the launcher, SIGTERM for the host app"
  printf 'maintenance\n' > "$update_marker"
  wait_for 10 update_gone "$update_launcher_pid" || kill -TERM "$update_launcher_pid" 2>/dev/null || true
  wait "$update_launcher_pid" 2>/dev/null || true
  for update_pid in $(update_host_pids); do kill -TERM "$update_pid" 2>/dev/null || true; done
  wait_for 5 eval '[ -z "$(update_host_pids)" ]' || true
  rm -f "$update_marker"
fi
