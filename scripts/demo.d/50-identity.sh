# Chapter: sign-in through the default browser. The local identity provider of the tests plays the
# tenant, a private gnome-keyring holds the credentials, and a scripted "browser" is the desktop's
# default web browser: it follows the provider's redirect and opens the callback URL through the
# desktop (gio open), whose handler for the callback scheme is the host app bundle. That second copy
# hands the URL to the running host app over the session bus. Sourced by scripts/demo.sh.

say "Sign-in: the host app signs its user in through the default browser"
identity_dir=$DEMO_ROOT/identity
mkdir -p "$identity_dir/empty" "$identity_dir/runtime"
chmod 700 "$identity_dir/runtime"
identity_bundle=$("$QUORVEL_SOURCE_DIR/scripts/make-bundle.sh" --build "$QUORVEL_BUILD_DIR" "$DEMO_ROOT/Identity")
identity_exe=$identity_bundle/Contents/MacOS/Quorvel

# The identity provider tenant, with a certificate authority of its own.
/usr/bin/python3 "$QUORVEL_SOURCE_DIR/tests/fixtures/idp/idp_fixture.py" --state-dir "$identity_dir/idp" \
  >"$identity_dir/idp.log" 2>&1 &
identity_idp_pid=$!
demo_track "$identity_idp_pid"
wait_for 30 test -e "$identity_dir/idp/ready.json" || { note "the identity provider did not start"; exit 1; }
identity_ready() { /usr/bin/python3 -c 'import json,sys; print(json.load(open(sys.argv[1]))[sys.argv[2]])' "$identity_dir/idp/ready.json" "$1"; }
identity_issuer=$(identity_ready issuer)
identity_ca=$(identity_ready ca_file)
note "identity provider: $identity_issuer (trusted through QUORVEL_IDP_EXTRA_CA_FILE)"

# The user's keyring, unlocked, on the demo's session bus, before any client asks for it.
printf %s demo-keyring-password | XDG_RUNTIME_DIR=$identity_dir/runtime \
  gnome-keyring-daemon --foreground --unlock --components=secrets >"$identity_dir/keyring.log" 2>&1 &
identity_keyring_pid=$!
demo_track "$identity_keyring_pid"
identity_keyring_up() {
  [[ "$(gdbus call --session -d org.freedesktop.DBus -o /org/freedesktop/DBus \
          -m org.freedesktop.DBus.NameHasOwner org.freedesktop.secrets 2>/dev/null)" == *true* ]]
}
wait_for 15 identity_keyring_up || { note "gnome-keyring did not start"; exit 1; }
note "gnome-keyring: unlocked, owns org.freedesktop.secrets on the demo's session bus"

# The default browser: fetches the page, follows the provider's redirect to the callback URL and
# opens that through the desktop, as a browser does with a scheme it does not handle itself.
cat > "$identity_dir/browser.py" <<BROWSER
#!/usr/bin/python3
import http.client, ssl, subprocess, sys, urllib.parse
url = sys.argv[1]
with open("$identity_dir/browser.log", "a") as log:
    log.write("visit " + url.split("?")[0] + "?...\n")
    page = urllib.parse.urlsplit(url)
    connection = http.client.HTTPSConnection(page.hostname, page.port,
                                             context=ssl.create_default_context(cafile="$identity_ca"))
    connection.request("GET", page.path + "?" + page.query)
    location = connection.getresponse().getheader("Location")
    log.write("redirected to " + location.split("?")[0] + "?...\n")
    log.flush()
    subprocess.run(["gio", "open", location], check=False)
BROWSER
chmod +x "$identity_dir/browser.py"
mkdir -p "$XDG_DATA_HOME/applications"
cat > "$XDG_DATA_HOME/applications/demo-browser.desktop" <<ENTRY
[Desktop Entry]
Type=Application
Name=Demo Browser
Exec=$identity_dir/browser.py %u
MimeType=x-scheme-handler/http;x-scheme-handler/https;
NoDisplay=true
ENTRY
cat > "$XDG_CONFIG_HOME/mimeapps.list" <<LIST
[Default Applications]
x-scheme-handler/https=demo-browser.desktop
x-scheme-handler/http=demo-browser.desktop
LIST
identity_entry=$("$QUORVEL_SOURCE_DIR/scripts/register-callback-scheme.sh" "$identity_bundle")
note "default browser: a scripted one (demo-browser.desktop in mimeapps.list)"
note "the host app claims the callback scheme in ${identity_entry#"$HOME/"}:"
lines_matching '^(Exec|MimeType)=' "$identity_entry" | sed 's/^/   | /'

# Only the demo's own desktop entries count (system ones are hidden), for every program started below.
identity_env=(env XDG_DATA_DIRS="$identity_dir/empty" XDG_CONFIG_DIRS="$identity_dir/empty"
              QUORVEL_IDP_EXTRA_CA_FILE="$identity_ca" XDG_RUNTIME_DIR="$identity_dir/runtime")
identity_log=$identity_dir/host.log
"${identity_env[@]}" "$identity_exe" --identity-demo "$identity_issuer" quorvel-test-client \
  https://api.quorvel.test >"$identity_log" 2>&1 &
identity_host_pid=$!
demo_track "$identity_host_pid"
note "the host app (pid $identity_host_pid) configures identity and begins a login:"
identity_has() { grep -q "$1" "$identity_log" 2>/dev/null; }
wait_for 30 identity_has "identity token copy" || wait_for 1 identity_has "identity login outcome" ||
  note "(no outcome within 30 seconds)"
sleep 0.2
# The second copy, started by the desktop with the callback URL, writes to the same output.
lines_matching '^identity ' "$identity_log" |
  sed -e 's/^\(identity callback .*\)/   | second copy: \1/' -e 's/^\(identity [^c].*\|identity configure.*\)/   | host app: \1/'
note "what the browser did:"
sed 's/^/   | browser: /' "$identity_dir/browser.log" 2>/dev/null || note "(the browser was not started)"
note "the sign-in's trip across threads (log lines, category NativeIdentity):"
lines_matching 'identity_sign_in_hop ' "$identity_log" | sed 's/.*\(identity_sign_in_hop \)/   | \1/' | first_lines 20

note "ending the host app, the identity provider and the keyring"
kill -TERM "$identity_host_pid" "$identity_idp_pid" "$identity_keyring_pid" 2>/dev/null || true
wait "$identity_host_pid" "$identity_idp_pid" "$identity_keyring_pid" 2>/dev/null || true
