#pragma once

#include <string>
#include <vector>

// Sign-in as the host app does it, from the arguments "--identity-demo ISSUER CLIENT_ID AUDIENCE":
// takes the application id "com.quorvel.desktop" on the session bus (so that a second copy started
// by the desktop with a callback URL hands that URL to this one), configures identity, begins a
// login in the default browser, prints every result ("identity begin_login code=1", "identity
// resume_login code=1", "identity login outcome=1 (succeeded)"), and after a successful login
// copies an access token from a worker thread ("identity token copy from a worker thread: code=N
// (N bytes)"). Call on the main thread before the main loop runs.
void startDemoIdentity(const std::vector<std::string>& arguments);

// The second copy's part: when an argument is a URL of the callback scheme
// ("com.zadovuzuzo.recorder://..."), hands it to the running copy, prints "identity callback
// handed to the running copy" (or why it could not) and returns true (main then exits);
// otherwise does nothing and returns false.
bool handleDemoIdentityCallback(const std::vector<std::string>& arguments);
