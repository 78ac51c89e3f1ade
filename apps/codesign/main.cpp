// quorvel-codesign: signs application bundles and verifies them, with the code and the built-in key
// that update recovery in the launcher uses to tell a healthy bundle from a broken one.

#include "codesign/BundleSignature.h"
#include "codesign/TrustedKey.h"

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

using namespace quorvel::codesign;

constexpr const char* usage =
    "usage: quorvel-codesign sign --key PRIVATE_KEY.pem BUNDLE\n"
    "       quorvel-codesign verify [--deep] [--strict] [--trusted-key PUBLIC_KEY.pem] [--verbose] "
    "BUNDLE\n"
    "       quorvel-codesign print-trusted-key\n"
    "\n"
    "sign     writes Contents/QuorvelSignature/{manifest,manifest.sig}: the SHA-256 of every file\n"
    "         below BUNDLE (relative paths, sorted) and the Ed25519 signature of that manifest.\n"
    "verify   checks the signature against the trusted key (the key built into this program\n"
    "         unless --trusted-key names another) and every listed file's digest.\n"
    "         --deep    also the contents of nested bundles (*.app folders inside BUNDLE)\n"
    "         --strict  no unlisted file, no link leading out of the bundle\n"
    "\n"
    "Exit status: 0 signed / valid, 1 not signed / not valid, 2 usage error.\n";

int usageError(const std::string& message) {
    std::fprintf(stderr, "quorvel-codesign: %s\n%s", message.c_str(), usage);
    return 2;
}

int sign(const std::vector<std::string>& arguments) {
    std::string keyPath;
    std::string bundle;
    bool onlyOperands = false;
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        const std::string& argument = arguments[i];
        if (!onlyOperands && argument == "--") {
            onlyOperands = true;
        } else if (!onlyOperands && argument == "--key" && i + 1 < arguments.size()) {
            keyPath = arguments[++i];
        } else if (!onlyOperands && argument.size() > 1 && argument.front() == '-') {
            return usageError("unknown option " + argument);
        } else if (bundle.empty()) {
            bundle = argument;
        } else {
            return usageError("one bundle at a time");
        }
    }
    if (keyPath.empty())
        return usageError("sign needs --key PRIVATE_KEY.pem");
    if (bundle.empty())
        return usageError("no bundle given");
    std::string error;
    Key key = loadPrivateKeyFile(keyPath, error);
    if (!key) {
        std::fprintf(stderr, "quorvel-codesign: %s\n", error.c_str());
        return 1;
    }
    if (!signBundle(bundle, key.get(), error)) {
        std::fprintf(stderr, "quorvel-codesign: %s: %s\n", bundle.c_str(), error.c_str());
        return 1;
    }
    return 0;
}

int verify(const std::vector<std::string>& arguments) {
    VerifyOptions options;
    std::string trustedKeyPath;
    std::string bundle;
    bool verbose = false;
    bool onlyOperands = false;
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        const std::string& argument = arguments[i];
        if (!onlyOperands && argument == "--") {
            onlyOperands = true;
        } else if (!onlyOperands && argument == "--deep") {
            options.deep = true;
        } else if (!onlyOperands && argument == "--strict") {
            options.strict = true;
        } else if (!onlyOperands && argument == "--verbose") {
            verbose = true;
        } else if (!onlyOperands && argument == "--trusted-key" && i + 1 < arguments.size()) {
            trustedKeyPath = arguments[++i];
        } else if (!onlyOperands && argument.size() > 1 && argument.front() == '-') {
            return usageError("unknown option " + argument);
        } else if (bundle.empty()) {
            bundle = argument;
        } else {
            return usageError("one bundle at a time");
        }
    }
    if (bundle.empty())
        return usageError("no bundle given");
    std::string error;
    Key key = trustedKeyPath.empty() ? loadPublicKeyPem(builtInTrustedKeyPem, error)
                                     : loadPublicKeyFile(trustedKeyPath, error);
    if (!key) {
        std::fprintf(stderr, "quorvel-codesign: %s\n", error.c_str());
        return 1;
    }
    auto problems = verifyBundle(bundle, key.get(), options);
    for (const auto& problem : problems) {
        std::fprintf(stderr, "quorvel-codesign: %s: %s\n", bundle.c_str(), problem.c_str());
    }
    if (problems.empty() && verbose)
        std::fprintf(stderr, "%s: valid on disk\n", bundle.c_str());
    return problems.empty() ? 0 : 1;
}

} // namespace

int main(int argc, char** argv) {
    std::vector<std::string> arguments(argv + 1, argv + argc);
    if (arguments.empty())
        return usageError("no command given");
    std::string command = arguments.front();
    arguments.erase(arguments.begin());
    if (command == "sign")
        return sign(arguments);
    if (command == "verify")
        return verify(arguments);
    if (command == "print-trusted-key") {
        std::fputs(builtInTrustedKeyPem, stdout);
        return 0;
    }
    if (command == "--help" || command == "-h" || command == "help") {
        std::fputs(usage, stdout);
        return 0;
    }
    return usageError("unknown command " + command);
}
