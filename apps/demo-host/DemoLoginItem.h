#pragma once

#include <string>
#include <vector>

// The login item as the host app drives it. When the arguments hold "--login-item", registers the
// launcher of this bundle as login item; with "--login-item-stop", stops it for maintenance. Either
// prints the result and the state afterwards ("login-item ensure=1 status=1 (enabled)") and returns
// true (main then exits); without those arguments nothing happens and the result is false.
bool handleDemoLoginItem(const std::vector<std::string>& arguments);
