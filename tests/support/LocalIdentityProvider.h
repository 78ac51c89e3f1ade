#pragma once

#include "support/ChildProcess.h"
#include "support/TemporaryDirectory.h"

#include <memory>
#include <string>
#include <vector>

namespace quorvel::test {

// The local HTTPS identity provider of tests/fixtures/idp/idp_fixture.py, started for one test
// and ended with it. It makes its own certificate authority and signing keys in a fresh state
// folder; trust caFile() to reach it at issuer() (https://localhost:PORT/).
class LocalIdentityProvider {
public:
    explicit LocalIdentityProvider(std::string clientId = "quorvel-test-client");
    ~LocalIdentityProvider();
    LocalIdentityProvider(const LocalIdentityProvider&) = delete;
    LocalIdentityProvider& operator=(const LocalIdentityProvider&) = delete;

    int port() const { return port_; }
    const std::string& issuer() const { return issuer_; } // "https://localhost:PORT/"
    const std::string& domain() const { return domain_; } // "localhost:PORT"
    const std::string& caFile() const { return caFile_; }
    const std::string& clientId() const { return clientId_; }
    const std::filesystem::path& stateDirectory() const { return state_.path(); }

    // Replaces the behaviour switches (a JSON object; see the fixture's description).
    void setControl(const std::string& json);
    // One JSON text per request the provider received, oldest first.
    std::vector<std::string> requests() const;

    // Where the fixture program lives in the source tree.
    static std::string scriptPath();

private:
    TemporaryDirectory state_;
    std::string clientId_;
    std::unique_ptr<ChildProcess> process_;
    int port_ = 0;
    std::string issuer_;
    std::string domain_;
    std::string caFile_;
};

} // namespace quorvel::test
