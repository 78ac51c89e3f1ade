#include "lifecycle/LoginSession.h"

#include <gtest/gtest.h>

using namespace quorvel;

TEST(LoginSession, ReadsBooleansStrictly) {
    EXPECT_EQ(readSessionBoolean(true), true);
    EXPECT_EQ(readSessionBoolean(false), false);
    EXPECT_EQ(readSessionBoolean(std::int64_t{1}), true);
    EXPECT_EQ(readSessionBoolean(std::int64_t{0}), false);
    EXPECT_EQ(readSessionBoolean(std::int64_t{2}), std::nullopt);
    EXPECT_EQ(readSessionBoolean(std::int64_t{-1}), std::nullopt);
    EXPECT_EQ(readSessionBoolean(std::string("true")), std::nullopt);
    EXPECT_EQ(readSessionBoolean(OtherSessionValue{"1.0"}), std::nullopt);
}

TEST(LoginSession, ScreenLockReading) {
    EXPECT_EQ(screenIsLocked(std::nullopt), std::nullopt);
    EXPECT_EQ(screenIsLocked(SessionDictionary{}), false);
    EXPECT_EQ(screenIsLocked(SessionDictionary{{sessionKey::screenIsLocked, true}}), true);
    EXPECT_EQ(screenIsLocked(SessionDictionary{{sessionKey::screenIsLocked, std::int64_t{0}}}),
              false);
    EXPECT_EQ(screenIsLocked(SessionDictionary{{sessionKey::screenIsLocked, std::int64_t{2}}}),
              std::nullopt);
    EXPECT_EQ(screenIsLocked(SessionDictionary{{sessionKey::screenIsLocked, std::string("yes")}}),
              std::nullopt);
}

TEST(LoginSession, InitialUsabilityFlags) {
    auto session = [](SessionValue console, SessionValue loginDone,
                      std::optional<SessionValue> locked) {
        SessionDictionary dictionary{{sessionKey::onConsole, console},
                                     {sessionKey::loginDone, loginDone}};
        if (locked)
            dictionary.emplace(sessionKey::screenIsLocked, *locked);
        return std::optional<SessionDictionary>(dictionary);
    };
    EXPECT_EQ(initialUsability(std::nullopt), 1u);
    EXPECT_EQ(initialUsability(SessionDictionary{}), 3u);
    EXPECT_EQ(initialUsability(session(true, true, false)), 7u);
    EXPECT_EQ(initialUsability(session(true, true, std::nullopt)), 7u);
    EXPECT_EQ(initialUsability(session(true, true, true)), 5u);
    EXPECT_EQ(initialUsability(session(std::int64_t{1}, std::int64_t{1}, std::int64_t{1})), 5u);
    EXPECT_EQ(initialUsability(session(false, true, false)), 3u);
    EXPECT_EQ(initialUsability(session(true, false, false)), 3u);
    EXPECT_EQ(initialUsability(session(std::int64_t{2}, true, std::int64_t{2})), 1u);
    EXPECT_EQ(initialUsability(session(std::string("yes"), true, std::string("no"))), 1u);
}
