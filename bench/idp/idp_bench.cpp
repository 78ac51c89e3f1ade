// Speed of the identity provider client's hot paths: the cached credentials answer (which reads
// the Secret Service every time) against a bare libsecret lookup of the same item, and ID token
// validation. The benchmark starts its own private bus and gnome-keyring.

#include "idp/CredentialsManager.h"
#include "idp/FakeURLSession.h"
#include "idp/IDTokenValidator.h"
#include "idp/KeychainStore.h"
#include "idp/TestTokens.h"
#include "support/PrivateKeyring.h"

#include <benchmark/benchmark.h>
#include <libsecret/secret.h>

using namespace quorvel;
using namespace quorvel::idp;
using namespace quorvel::idp::test;

namespace {

constexpr const char* service = "com.quorvel.desktop.identity.oidc";

quorvel::test::PrivateKeyring& keyring() {
    static quorvel::test::PrivateKeyring instance;
    return instance;
}

std::shared_ptr<CredentialsManager> storedManager() {
    keyring();
    auto session = std::make_shared<FakeURLSession>([](const HTTPRequest&) -> HTTPResult {
        return unexpected(URLError(URLError::Code::cannotConnectToHost, ""));
    });
    auto manager = CredentialsManager::make(authentication("client-1", "tenant.example", session),
                                            "credentials", "dpop_thumbprint",
                                            std::make_shared<KeychainStore>(service));
    Credentials credentials;
    credentials.accessToken = std::string(1200, 'a');
    credentials.tokenType = "Bearer";
    credentials.idToken = std::string(900, 'i');
    credentials.refreshToken = "rt";
    credentials.expiresAt = Clock::now() + std::chrono::hours(10);
    credentials.scope = "openid profile email offline_access";
    manager->store(credentials);
    return manager;
}

void cachedCredentials(benchmark::State& state) {
    auto manager = storedManager();
    for (auto _ : state) {
        Delivery<Expected<Credentials, CredentialsManagerError>> delivery;
        manager->credentials(std::nullopt, 60, {}, {}, delivery.callback());
        delivery.waitFor(1);
        if (!delivery.first())
            state.SkipWithError("no credentials");
        benchmark::DoNotOptimize(delivery.first());
    }
}
// The CPU column is the whole process's: the work runs on the library's own threads.
BENCHMARK(cachedCredentials)->Unit(benchmark::kMicrosecond)->MeasureProcessCPUTime()->UseRealTime();

void keychainStoreGet(benchmark::State& state) {
    storedManager();
    KeychainStore store(service);
    for (auto _ : state) {
        auto data = store.getEntry("credentials");
        benchmark::DoNotOptimize(data);
    }
}
BENCHMARK(keychainStoreGet)->Unit(benchmark::kMicrosecond)->MeasureProcessCPUTime()->UseRealTime();

void bareLibsecretLookup(benchmark::State& state) {
    storedManager();
    SecretSchema schema{};
    schema.name = "com.quorvel.GenericPassword";
    schema.flags = SECRET_SCHEMA_NONE;
    schema.attributes[0] = {"service", SECRET_SCHEMA_ATTRIBUTE_STRING};
    schema.attributes[1] = {"account", SECRET_SCHEMA_ATTRIBUTE_STRING};
    schema.attributes[2] = {nullptr, SECRET_SCHEMA_ATTRIBUTE_STRING};
    for (auto _ : state) {
        SecretValue* value = secret_password_lookup_binary_sync(
            &schema, nullptr, nullptr, "service", service, "account", "credentials", nullptr);
        if (!value)
            state.SkipWithError("no item");
        else
            secret_value_unref(value);
    }
}
BENCHMARK(bareLibsecretLookup)
    ->Unit(benchmark::kMicrosecond)
    ->MeasureProcessCPUTime()
    ->UseRealTime();

void idTokenValidation(benchmark::State& state) {
    auto now = Clock::now();
    auto seconds = std::chrono::duration_cast<std::chrono::seconds>(now.time_since_epoch()).count();
    std::string token = rs256Token(Json{{"iss", "https://tenant.example/"},
                                        {"sub", "user-1"},
                                        {"aud", "client-1"},
                                        {"exp", seconds + 3600},
                                        {"iat", seconds},
                                        {"nonce", "n-1"},
                                        {"email", "user@example.test"},
                                        {"name", "Test User"}});
    auto keys = testKeySet();
    IDTokenValidationContext context;
    context.issuer = "https://tenant.example/";
    context.audience = "client-1";
    context.nonce = "n-1";
    for (auto _ : state) {
        auto result = validateIDToken(std::string_view(token), keys, context, now);
        if (!result)
            state.SkipWithError("token refused");
    }
}
BENCHMARK(idTokenValidation)->Unit(benchmark::kMicrosecond);

void keySetParsing(benchmark::State& state) {
    std::string text = jwksText();
    for (auto _ : state) {
        auto keys = JSONWebKeySet::parse(text);
        benchmark::DoNotOptimize(keys);
    }
}
BENCHMARK(keySetParsing)->Unit(benchmark::kMicrosecond);

} // namespace

BENCHMARK_MAIN();
