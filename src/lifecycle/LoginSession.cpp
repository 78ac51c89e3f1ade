#include "lifecycle/LoginSession.h"

namespace quorvel {

namespace {

std::optional<bool> readKey(const SessionDictionary& session, const char* key) {
    auto found = session.find(key);
    if (found == session.end())
        return std::nullopt;
    return readSessionBoolean(found->second);
}

} // namespace

std::optional<bool> readSessionBoolean(const SessionValue& value) {
    if (const bool* flag = std::get_if<bool>(&value))
        return *flag;
    if (const std::int64_t* number = std::get_if<std::int64_t>(&value)) {
        if (*number == 1)
            return true;
        if (*number == 0)
            return false;
    }
    return std::nullopt;
}

std::optional<bool> screenIsLocked(const std::optional<SessionDictionary>& session) {
    if (!session)
        return std::nullopt;
    auto found = session->find(sessionKey::screenIsLocked);
    if (found == session->end())
        return false;
    return readSessionBoolean(found->second);
}

std::uint32_t initialUsability(const std::optional<SessionDictionary>& session) {
    std::uint32_t flags = usabilityFlag::always;
    if (session && readKey(*session, sessionKey::onConsole) == true &&
        readKey(*session, sessionKey::loginDone) == true) {
        flags |= usabilityFlag::consoleLoginDone;
    }
    if (screenIsLocked(session) == false)
        flags |= usabilityFlag::screenUnlocked;
    return flags;
}

} // namespace quorvel
