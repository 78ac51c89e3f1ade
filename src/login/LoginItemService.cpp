#include "login/LoginItemService.h"

namespace quorvel {

std::string_view loginItemStatusLogName(LoginItemStatus status) {
    switch (status) {
    case LoginItemStatus::notRegistered:
        return "not_registered";
    case LoginItemStatus::enabled:
        return "enabled";
    case LoginItemStatus::requiresApproval:
        return "requires_approval";
    case LoginItemStatus::notFound:
        return "not_found";
    }
    return "unknown";
}

} // namespace quorvel
