#include "base/Json.h"
#include "update/UpdateReceipt.h"

#include <gtest/gtest.h>

namespace quorvel {
namespace {

std::string validReceipt(const std::string& overrides = "") {
    return R"({"schema":1,"from_version":"1.4.0","to_version":"1.5.0","artifact_sha256":"abc",)"
           R"("snapshot_path":"/u/updates/snap.tar.gz","state":"installing",)"
           R"("written_at":"2026-12-05T14:50:00Z")" +
           overrides + "}";
}

// The valid receipt with the first occurrence of `from` replaced by `to`.
std::string changed(const std::string& from, const std::string& to) {
    std::string text = validReceipt();
    return text.replace(text.find(from), from.size(), to);
}

std::optional<UpdateReceipt> decodeText(const std::string& text) {
    return UpdateReceipt::decode(bytesOf(text));
}

TEST(UpdateReceipt, DecodesEveryFieldAndEveryState) {
    auto receipt = decodeText(validReceipt(
        R"(,"artifact_path":"/u/updates/a.tar.gz","failure":"a\/b \u00e9",)"
        R"("rolled_back_at":"2026-12-05T14:52:07.118Z","rollback_reason":"anything")"));
    ASSERT_TRUE(receipt);
    UpdateReceipt expected;
    expected.fromVersion = "1.4.0";
    expected.toVersion = "1.5.0";
    expected.artifactSha256 = "abc";
    expected.artifactPath = "/u/updates/a.tar.gz";
    expected.snapshotPath = "/u/updates/snap.tar.gz";
    expected.state = UpdateReceiptState::installing;
    expected.writtenAt = "2026-12-05T14:50:00Z";
    expected.rolledBackAt = "2026-12-05T14:52:07.118Z";
    expected.failure = "a/b \xC3\xA9";
    expected.rollbackReason = "anything"; // held as text: any reason is accepted on reading
    EXPECT_EQ(*receipt, expected);
    EXPECT_EQ(receipt->schema, 1);
    EXPECT_EQ(decodeText(changed("/u/updates/snap.tar.gz", ""))->snapshotPath, "");

    for (auto [text, state] : {std::pair{"installing", UpdateReceiptState::installing},
                               {"installed", UpdateReceiptState::installed},
                               {"failed", UpdateReceiptState::failed},
                               {"rolled-back", UpdateReceiptState::rolledBack},
                               {"cleaned", UpdateReceiptState::cleaned}}) {
        auto decoded = decodeText(changed("\"installing\"", std::string("\"") + text + "\""));
        ASSERT_TRUE(decoded) << text;
        EXPECT_EQ(decoded->state, state);
        EXPECT_EQ(toString(state), text);
    }
}

TEST(UpdateReceipt, UnreadableReceipts) {
    for (const char* state : {"paused", "rolledBack", "Installing", ""})
        EXPECT_FALSE(decodeText(changed("\"installing\"", std::string("\"") + state + "\"")));
    // Schema other than 1, or not a JSON integer as written; versions that are not text.
    for (const char* schema : {"\"schema\":2", "\"schema\":\"1\"", "\"schema\":1.5",
                               "\"schema\":1.0", "\"schema\":1e0", "\"schema\":true"})
        EXPECT_FALSE(decodeText(changed("\"schema\":1", schema))) << schema;
    EXPECT_FALSE(decodeText(changed("\"1.5.0\"", "15")));
    // Every required key missing in turn, and given as null.
    for (const char* key : {"schema", "from_version", "to_version", "artifact_sha256",
                            "snapshot_path", "state", "written_at"}) {
        auto json = *parseJson(validReceipt());
        json.erase(key);
        EXPECT_FALSE(UpdateReceipt::decode(bytesOf(json.dump()))) << key << " missing";
        json[key] = nullptr;
        EXPECT_FALSE(UpdateReceipt::decode(bytesOf(json.dump()))) << key << " null";
    }
    // Wrong types of optional keys.
    for (const char* extra :
         {R"(,"artifact_path":7)", R"(,"failure":false)", R"(,"rolled_back_at":["x"])"}) {
        EXPECT_FALSE(decodeText(validReceipt(extra))) << extra;
    }
    // Not a JSON object at all.
    for (const char* text : {"", "[]", "null", "{", "\"receipt\"", "{\"schema\":1} trailing"})
        EXPECT_FALSE(decodeText(text)) << text;
    EXPECT_FALSE(UpdateReceipt::decode(Bytes{0xFF, 0xFE, '{', '}'}));
}

TEST(UpdateReceipt, EncodesTheKnownKeysSortedAndCompactOmittingAbsentOnes) {
    auto withNull = decodeText(validReceipt(R"(,"artifact_path":null,"failure":null)"));
    ASSERT_TRUE(withNull);
    EXPECT_EQ(withNull, decodeText(validReceipt()));
    withNull->state = UpdateReceiptState::rolledBack;
    EXPECT_EQ(textOf(withNull->encode()),
              R"({"artifact_sha256":"abc","from_version":"1.4.0","schema":1,)"
              R"("snapshot_path":"/u/updates/snap.tar.gz","state":"rolled-back",)"
              R"("to_version":"1.5.0","written_at":"2026-12-05T14:50:00Z"})");

    // Every known key, in order; an unknown key is dropped on rewrite.
    auto receipt = decodeText(
        validReceipt(R"(,"channel":"beta","failure":"x","artifact_path":"/u/updates/a")"));
    ASSERT_TRUE(receipt);
    receipt->rolledBackAt = "2026-12-05T14:52:07.118Z";
    receipt->rollbackReason = "bundle_missing";
    EXPECT_EQ(textOf(receipt->encode()),
              R"({"artifact_path":"/u/updates/a","artifact_sha256":"abc","failure":"x",)"
              R"("from_version":"1.4.0","rollback_reason":"bundle_missing",)"
              R"("rolled_back_at":"2026-12-05T14:52:07.118Z","schema":1,)"
              R"("snapshot_path":"/u/updates/snap.tar.gz","state":"installing",)"
              R"("to_version":"1.5.0","written_at":"2026-12-05T14:50:00Z"})");
    EXPECT_EQ(UpdateReceipt::decode(receipt->encode()), receipt);
}

} // namespace
} // namespace quorvel
