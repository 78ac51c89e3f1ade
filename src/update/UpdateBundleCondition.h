#pragma once

#include <string_view>

namespace quorvel {

// The health of an application bundle on disk.
enum class UpdateBundleCondition {
    verified,   // exists and passes the signature check
    missing,    // nothing at the path
    unverified, // exists, fails the check (or the check could not be run)
};

std::string_view toString(UpdateBundleCondition condition);

} // namespace quorvel
