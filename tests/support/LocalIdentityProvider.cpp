#include "support/LocalIdentityProvider.h"

#include "base/Json.h"

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <thread>

namespace quorvel::test {

std::string LocalIdentityProvider::scriptPath() {
    if (const char* source = std::getenv("QUORVEL_SOURCE_DIR"); source && *source) {
        return std::string(source) + "/tests/fixtures/idp/idp_fixture.py";
    }
    // Built from an absolute source path: tests/support/ -> tests/fixtures/idp/.
    return (std::filesystem::path(__FILE__).parent_path().parent_path() /
            "fixtures/idp/idp_fixture.py")
        .string();
}

LocalIdentityProvider::LocalIdentityProvider(std::string clientId)
    : clientId_(std::move(clientId)) {
    ChildProcess::Options options;
    options.outputFile = (state_.path() / "fixture.log").string();
    process_ = std::make_unique<ChildProcess>(
        std::vector<std::string>{"/usr/bin/python3", scriptPath(), "--state-dir", state_.string(),
                                 "--client-id", clientId_},
        std::move(options));
    auto ready = state_.path() / "ready.json";
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (!std::filesystem::exists(ready)) {
        if (!process_->running() || std::chrono::steady_clock::now() > deadline) {
            throw std::runtime_error("the identity provider fixture did not start: " +
                                     readFileText(state_.path() / "fixture.log"));
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    auto document = parseJson(readFileText(ready));
    if (!document || !document->is_object())
        throw std::runtime_error("unreadable ready.json");
    port_ = document->value("port", 0);
    issuer_ = document->value("issuer", "");
    domain_ = document->value("domain", "");
    caFile_ = document->value("ca_file", "");
}

LocalIdentityProvider::~LocalIdentityProvider() {
    process_.reset();
}

void LocalIdentityProvider::setControl(const std::string& json) {
    auto target = state_.path() / "control.json";
    auto temporary = state_.path() / "control.json.tmp";
    writeFileText(temporary, json);
    std::filesystem::rename(temporary, target);
}

std::vector<std::string> LocalIdentityProvider::requests() const {
    std::vector<std::string> lines;
    std::ifstream file(state_.path() / "requests.jsonl");
    for (std::string line; std::getline(file, line);) {
        if (!line.empty())
            lines.push_back(line);
    }
    return lines;
}

} // namespace quorvel::test
