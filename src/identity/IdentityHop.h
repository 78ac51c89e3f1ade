#pragma once

#include <string_view>

namespace quorvel {

// The one log line of native identity (subsystem "com.quorvel.desktop", category
// "NativeIdentity", info level): "identity_sign_in_hop hop=<label> main=<true|false>", with
// whether the calling thread is the main thread. It traces a sign-in across threads.
void identityHop(std::string_view label);

} // namespace quorvel
