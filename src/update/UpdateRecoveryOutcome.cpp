#include "update/UpdateRecoveryOutcome.h"

#include <cstdio>

namespace quorvel {

namespace {

std::string quoted(const std::string& text) {
    std::string out = "\"";
    for (char c : text) {
        auto byte = static_cast<unsigned char>(c);
        switch (c) {
        case '"':
            out += "\\\"";
            break;
        case '\\':
            out += "\\\\";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\r':
            out += "\\r";
            break;
        case '\t':
            out += "\\t";
            break;
        default:
            if (byte < 0x20 || byte == 0x7F) {
                char escape[8];
                std::snprintf(escape, sizeof escape, "\\u{%x}", byte);
                out += escape;
            } else {
                out.push_back(c);
            }
        }
    }
    out.push_back('"');
    return out;
}

} // namespace

std::string UpdateRecoveryOutcome::description() const {
    switch (kind) {
    case Kind::idle:
        return "idle";
    case Kind::cleaned:
        return "cleaned";
    case Kind::unrecoverable:
        return "unrecoverable";
    case Kind::rolledBack:
        return "rolledBack(version: " + quoted(version) + ", reason: " +
               std::string(toString(reason.value_or(UpdateRollbackReason::bundleMissing))) + ")";
    case Kind::rollbackFailed:
        return "rollbackFailed(version: " + quoted(version) + ")";
    }
    return "idle";
}

} // namespace quorvel
