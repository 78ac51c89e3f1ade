#pragma once

// What the identity integration tests share: one private keyring per test process, the local
// HTTPS identity provider, an identity owner over a scripted browser installed as the process's
// owner, and running work on other threads while the test's main thread iterates the main loop.

#include "identity/BrowserCallbackCorrelation.h"
#include "identity/FakeIdentityPlatform.h"
#include "identity/IdentityBridge.h"
#include "identity/NativeIdentityOwner.h"
#include "idp/CurlURLSession.h"
#include "idp/KeychainStore.h"
#include "idp/WebAuth.h"
#include "quorvel_shell_bridge.h"
#include "support/GLibPump.h"
#include "support/LocalIdentityProvider.h"
#include "support/PrivateKeyring.h"

#include <future>
#include <gtest/gtest.h>
#include <mutex>
#include <thread>
#include <vector>

namespace quorvel::test {

// One keyring per test process: libsecret keeps its connection to the first session bus it used.
// It is ended when the tests are done.
inline std::unique_ptr<PrivateKeyring>& keyringSlot() {
    static std::unique_ptr<PrivateKeyring> keyring;
    return keyring;
}

inline void ensureKeyring() {
    if (!keyringSlot())
        keyringSlot() = std::make_unique<PrivateKeyring>();
}

class KeyringEnvironment : public ::testing::Environment {
public:
    void TearDown() override { keyringSlot().reset(); }
};

// Runs work on another thread while this (main) thread iterates the main loop, and returns its
// result. The identity functions hop to the main thread, so it must not simply wait.
template <class F> auto onWorker(F work) {
    auto task = std::packaged_task<decltype(work())()>(std::move(work));
    auto result = task.get_future();
    std::thread worker(std::move(task));
    bool done = pumpUntil(
        [&] { return result.wait_for(std::chrono::seconds(0)) == std::future_status::ready; },
        std::chrono::seconds(60));
    worker.join();
    EXPECT_TRUE(done);
    return result.get();
}

inline constexpr const char* nativeCallback = "com.zadovuzuzo.recorder://auth/callback";

// The user's default browser, scripted: it opens the authorize URL by fetching it from the
// provider, follows the provider's redirect to the redirect URL, and hands the callback on to the
// host app (quorvel_identity_resume_login) from a thread of its own, as the desktop would.
struct ScriptedBrowser {
    enum class Mode {
        follow,     // fetch the authorize URL and deliver the callback it redirects to
        stay,       // open the page and leave it there (the user walks away)
        refuse,     // the browser cannot be opened
        synthesize, // deliver a callback with a code for the page's state, without fetching
    };

    std::mutex mutex;
    Mode mode = Mode::follow;
    // A redirect page (browser redirect setting) passes the response on to the native callback.
    bool redirectPage = false;
    std::vector<std::string> opened;
    std::vector<std::string> delivered;
    std::vector<std::int32_t> resumeCodes;
    std::vector<std::thread> threads;
    std::size_t visited = 0;
    std::shared_ptr<idp::URLSession> session;

    bool open(const std::string& url) {
        std::lock_guard lock(mutex);
        opened.push_back(url);
        if (mode == Mode::refuse)
            return false;
        if (mode == Mode::stay)
            return true;
        threads.emplace_back([this, url, how = mode] { visit(url, how); });
        return true;
    }

    void visit(const std::string& url, Mode how) {
        deliver(url, how);
        std::lock_guard lock(mutex);
        ++visited;
    }

    void deliver(const std::string& url, Mode how) {
        std::string callback;
        if (how == Mode::synthesize) {
            auto state = BrowserCallbackCorrelation::state(url).value_or("");
            callback = std::string(nativeCallback) + "?code=made-up&state=" + state;
        } else {
            std::promise<idp::HTTPResult> answer;
            session->send(idp::HTTPRequest{"GET", url, {}, {}}, [&answer](idp::HTTPResult result) {
                answer.set_value(std::move(result));
            });
            auto result = answer.get_future().get();
            if (!result)
                return;
            auto location = result->header("location");
            if (!location)
                return;
            callback = *location;
            if (redirectPage) {
                // What the page behind the browser redirect does: the same response, to the app.
                auto hash = callback.find('#');
                callback = std::string(nativeCallback) +
                           (hash == std::string::npos ? "" : callback.substr(hash));
            }
        }
        std::int32_t code = quorvel_identity_resume_login(callback.c_str());
        std::lock_guard lock(mutex);
        delivered.push_back(callback);
        resumeCodes.push_back(code);
    }

    // Lets every visit started so far finish (they may need the main thread).
    void settle() {
        pumpUntil(
            [&] {
                std::lock_guard lock(mutex);
                return visited >= threads.size();
            },
            std::chrono::seconds(30));
    }

    // What the visits handed to the host app, and its answers, once every visit has finished.
    std::vector<std::string> deliveredURLs() {
        settle();
        std::lock_guard lock(mutex);
        return delivered;
    }
    std::vector<std::int32_t> answers() {
        settle();
        std::lock_guard lock(mutex);
        return resumeCodes;
    }

    // Lets every visit finish and ends its thread.
    void finish() {
        settle();
        pumpFor(std::chrono::milliseconds(20));
        std::vector<std::thread> ending;
        {
            std::lock_guard lock(mutex);
            ending.swap(threads);
            visited = 0;
        }
        for (auto& thread : ending)
            thread.join();
    }
};

} // namespace quorvel::test
