#pragma once

// Signing and verifying application bundles. A signed bundle carries, in
// Contents/QuorvelSignature/, the manifest of every other entry below the bundle directory
// ("manifest") and the Ed25519 signature of the manifest's bytes ("manifest.sig", 64 bytes).

#include "codesign/BundleManifest.h"

#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <vector>

typedef struct evp_pkey_st EVP_PKEY;

namespace quorvel::codesign {

inline constexpr const char* signatureFolder = "Contents/QuorvelSignature";
inline constexpr const char* manifestFileName = "manifest";
inline constexpr const char* signatureFileName = "manifest.sig";

struct KeyDeleter {
    void operator()(EVP_PKEY* key) const;
};
using Key = std::unique_ptr<EVP_PKEY, KeyDeleter>;

// Ed25519 keys in PEM form; anything else is refused with a message in `error`.
Key loadPrivateKeyFile(const std::string& path, std::string& error);
Key loadPublicKeyFile(const std::string& path, std::string& error);
Key loadPublicKeyPem(const std::string& pem, std::string& error);

// Writes the manifest and its signature into the bundle, replacing an earlier signature. Refuses
// (nothing written, false) a bundle without a Contents folder, with a file that is neither a
// regular file, a folder nor a link, or with a link that leads out of the bundle.
bool signBundle(const std::string& bundle, EVP_PKEY* privateKey, std::string& error);

struct VerifyOptions {
    // Nested bundles ("*.app" folders inside the bundle) are checked too.
    bool deep = false;
    // No unlisted entry, no link leading out of the bundle, nothing extra in the signature folder.
    bool strict = false;
    // When set, the check gives up once this has passed (the bundle then counts as not valid), so
    // that a huge or slow bundle cannot hold the caller for longer than it allows.
    std::optional<std::chrono::steady_clock::time_point> deadline;
};

// Every problem found; empty when the bundle is valid. The signature is checked first and against
// the trusted key only; without a valid signature nothing else is looked at. Runs in the calling
// process and reads nothing but the bundle.
std::vector<std::string> verifyBundle(const std::string& bundle, EVP_PKEY* trustedKey,
                                      VerifyOptions options);

} // namespace quorvel::codesign
