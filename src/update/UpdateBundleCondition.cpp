#include "update/UpdateBundleCondition.h"

namespace quorvel {

std::string_view toString(UpdateBundleCondition condition) {
    switch (condition) {
    case UpdateBundleCondition::verified:
        return "verified";
    case UpdateBundleCondition::missing:
        return "missing";
    case UpdateBundleCondition::unverified:
        return "unverified";
    }
    return "";
}

} // namespace quorvel
