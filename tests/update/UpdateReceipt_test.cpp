#include "base/Json.h"
#include "update/UpdateReceipt.h"

#include <gtest/gtest.h>

namespace quorvel {
namespace {

std::string validReceipt(const std::string& overrides = "") {
    std::string text = R"({"schema":1,"from_version":"1.4.0","to_version":"1.5.0",)"
                       R"("artifact_sha256":"abc","snapshot_path":"/u/updates/snap.tar.gz",)"
                       R"("state":"installing","written_at":"2026-12-05T14:50:00Z")";
    return text + overrides + "}";
}

std::optional<UpdateReceipt> decodeText(const std::string& text) {
    return UpdateReceipt::decode(bytesOf(text));
}

TEST(UpdateReceipt, DecodesRequiredAndOptionalFields) {
    auto receipt = decodeText(validReceipt(
        R"(,"artifact_path":"/u/updates/a.tar.gz","failure":"disk full",)"
        R"("rolled_back_at":"2026-12-05T14:52:07.118Z","rollback_reason":"anything")"));
    ASSERT_TRUE(receipt);
    EXPECT_EQ(receipt->schema, 1);
    EXPECT_EQ(receipt->fromVersion, "1.4.0");
    EXPECT_EQ(receipt->toVersion, "1.5.0");
    EXPECT_EQ(receipt->artifactSha256, "abc");
    EXPECT_EQ(receipt->artifactPath, "/u/updates/a.tar.gz");
    EXPECT_EQ(receipt->snapshotPath, "/u/updates/snap.tar.gz");
    EXPECT_EQ(receipt->state, UpdateReceiptState::installing);
    EXPECT_EQ(receipt->writtenAt, "2026-12-05T14:50:00Z");
    EXPECT_EQ(receipt->rolledBackAt, "2026-12-05T14:52:07.118Z");
    EXPECT_EQ(receipt->failure, "disk full");
    // Held as text: any reason string is accepted on reading.
    EXPECT_EQ(receipt->rollbackReason, "anything");
}

TEST(UpdateReceipt, EveryStateStringAndNoOther) {
    for (auto [text, state] : {std::pair{"installing", UpdateReceiptState::installing},
                               {"installed", UpdateReceiptState::installed},
                               {"failed", UpdateReceiptState::failed},
                               {"rolled-back", UpdateReceiptState::rolledBack},
                               {"cleaned", UpdateReceiptState::cleaned}}) {
        std::string receipt = validReceipt();
        receipt.replace(receipt.find("\"installing\""), 12, std::string("\"") + text + "\"");
        auto decoded = decodeText(receipt);
        ASSERT_TRUE(decoded) << text;
        EXPECT_EQ(decoded->state, state);
        EXPECT_EQ(toString(state), text);
    }
    for (const char* bad : {"paused", "rolledBack", "Installing", ""}) {
        std::string receipt = validReceipt();
        receipt.replace(receipt.find("\"installing\""), 12, std::string("\"") + bad + "\"");
        EXPECT_FALSE(decodeText(receipt)) << bad;
    }
}

TEST(UpdateReceipt, UnreadableReceipts) {
    // Schema other than 1, or not a JSON number.
    std::string schema2 = validReceipt();
    schema2.replace(schema2.find("\"schema\":1"), 10, "\"schema\":2");
    EXPECT_FALSE(decodeText(schema2));
    std::string schemaText = validReceipt();
    schemaText.replace(schemaText.find("\"schema\":1"), 10, "\"schema\":\"1\"");
    EXPECT_FALSE(decodeText(schemaText));
    std::string schemaFraction = validReceipt();
    schemaFraction.replace(schemaFraction.find("\"schema\":1"), 10, "\"schema\":1.5");
    EXPECT_FALSE(decodeText(schemaFraction));

    // Every required key missing in turn, and given as null.
    for (const char* key : {"schema", "from_version", "to_version", "artifact_sha256",
                            "snapshot_path", "state", "written_at"}) {
        auto json = *parseJson(validReceipt());
        json.erase(key);
        EXPECT_FALSE(UpdateReceipt::decode(bytesOf(json.dump()))) << key << " missing";
        json[key] = nullptr;
        EXPECT_FALSE(UpdateReceipt::decode(bytesOf(json.dump()))) << key << " null";
    }
    // Wrong types, optional keys included.
    EXPECT_FALSE(decodeText(validReceipt(R"(,"artifact_path":7)")));
    EXPECT_FALSE(decodeText(validReceipt(R"(,"failure":false)")));
    EXPECT_FALSE(decodeText(validReceipt(R"(,"rolled_back_at":["x"])")));
    std::string numericVersion = validReceipt();
    numericVersion.replace(numericVersion.find("\"1.5.0\""), 7, "15");
    EXPECT_FALSE(decodeText(numericVersion));

    // Not a JSON object at all.
    for (const char* text : {"", "[]", "null", "{", "\"receipt\"", "{\"schema\":1} trailing"}) {
        EXPECT_FALSE(decodeText(text)) << text;
    }
    EXPECT_FALSE(UpdateReceipt::decode(Bytes{0xFF, 0xFE, '{', '}'}));
}

TEST(UpdateReceipt, NullAndMissingOptionalsAreAbsentAndOmittedOnRewrite) {
    auto withNull = decodeText(validReceipt(R"(,"artifact_path":null,"failure":null)"));
    auto without = decodeText(validReceipt());
    ASSERT_TRUE(withNull);
    ASSERT_TRUE(without);
    EXPECT_EQ(*withNull, *without);
    EXPECT_FALSE(withNull->artifactPath);
    EXPECT_EQ(textOf(withNull->encode()).find("artifact_path"), std::string_view::npos);
    EXPECT_EQ(textOf(withNull->encode()).find("null"), std::string_view::npos);
}

TEST(UpdateReceipt, EmptySnapshotPathDecodes) {
    std::string text = validReceipt();
    text.replace(text.find("\"/u/updates/snap.tar.gz\""), 24, "\"\"");
    auto receipt = decodeText(text);
    ASSERT_TRUE(receipt);
    EXPECT_EQ(receipt->snapshotPath, "");
}

TEST(UpdateReceipt, ExactEncodingWithAllOptionalsAbsent) {
    UpdateReceipt receipt;
    receipt.fromVersion = "1.4.0";
    receipt.toVersion = "1.5.0";
    receipt.artifactSha256 = "abc";
    receipt.snapshotPath = "/u/updates/snap.tar.gz";
    receipt.state = UpdateReceiptState::rolledBack;
    receipt.writtenAt = "2026-12-05T14:50:00Z";
    EXPECT_EQ(
        textOf(receipt.encode()),
        R"({"artifact_sha256":"abc","from_version":"1.4.0","schema":1,"snapshot_path":"/u/updates/snap.tar.gz",)"
        R"("state":"rolled-back","to_version":"1.5.0","written_at":"2026-12-05T14:50:00Z"})");
}

TEST(UpdateReceipt, RewriteKeepsKnownKeysInOrderAndDropsOthers) {
    auto receipt = decodeText(
        validReceipt(R"(,"channel":"beta","failure":"x","artifact_path":"/u/updates/a")"));
    ASSERT_TRUE(receipt);
    receipt->rolledBackAt = "2026-12-05T14:52:07.118Z";
    receipt->rollbackReason = "bundle_missing";
    std::string text(textOf(receipt->encode()));
    EXPECT_EQ(text.find("channel"), std::string::npos);
    const char* order[] = {"artifact_path",   "artifact_sha256", "failure",   "from_version",
                           "rollback_reason", "rolled_back_at",  "schema",    "snapshot_path",
                           "state",           "to_version",      "written_at"};
    std::size_t last = 0;
    for (const char* key : order) {
        auto at = text.find(std::string("\"") + key + "\":");
        ASSERT_NE(at, std::string::npos) << key;
        EXPECT_GT(at, last) << key;
        last = at;
    }
    EXPECT_EQ(text.find('\n'), std::string::npos);
    EXPECT_EQ(text.find(' '), std::string::npos);
    // Round trip.
    EXPECT_EQ(UpdateReceipt::decode(receipt->encode()), receipt);
}

TEST(UpdateReceipt, EscapedSlashesAndUnicodeAreAccepted) {
    auto receipt = decodeText(validReceipt(R"(,"failure":"a\/b \u00e9")"));
    ASSERT_TRUE(receipt);
    EXPECT_EQ(receipt->failure, "a/b \xC3\xA9");
}

} // namespace
} // namespace quorvel
