#include "codesign/BundleSignature.h"

#include "base/AtomicFile.h"
#include "base/CryptoLibrary.h"
#include "base/Sha256.h"
#include "base/SmallFile.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <map>
#include <openssl/evp.h>
#include <sys/stat.h>
#include <unistd.h>

namespace quorvel::codesign {

namespace fs = std::filesystem;

void KeyDeleter::operator()(EVP_PKEY* key) const {
    // A key exists only where the library was loaded.
    if (key)
        CryptoLibrary::load()->keyFree(key);
}

namespace {

constexpr std::size_t manifestSizeLimit = 64 * 1024 * 1024;
constexpr std::size_t signatureSize = 64;

constexpr const char* noCryptoLibrary = "the system's cryptography library cannot be loaded";

using Bio = std::unique_ptr<BIO, CryptoFree<BIO, &CryptoLibrary::bioFree>>;
using MdContext = std::unique_ptr<EVP_MD_CTX, CryptoFree<EVP_MD_CTX, &CryptoLibrary::contextFree>>;

Key requireEd25519(const CryptoLibrary& crypto, EVP_PKEY* key, const std::string& what,
                   std::string& error) {
    Key owned(key);
    if (!owned) {
        error = what + ": not a PEM key";
        return nullptr;
    }
    if (crypto.keyBaseId(owned.get()) != EVP_PKEY_ED25519) {
        error = what + ": not an Ed25519 key";
        return nullptr;
    }
    return owned;
}

Key loadKeyFile(const std::string& path, bool isPrivate, std::string& error) {
    const CryptoLibrary* crypto = CryptoLibrary::load();
    if (!crypto) {
        error = noCryptoLibrary;
        return nullptr;
    }
    Bio bio(crypto->bioNewFile(path.c_str(), "r"));
    if (!bio) {
        error = path + ": cannot read";
        return nullptr;
    }
    EVP_PKEY* key = isPrivate ? crypto->readPrivateKey(bio.get(), nullptr, nullptr, nullptr)
                              : crypto->readPublicKey(bio.get(), nullptr, nullptr, nullptr);
    return requireEd25519(*crypto, key, path, error);
}

// One entry found on disk.
struct DiskEntry {
    enum class Kind { directory, file, executable, link, other };
    Kind kind = Kind::other;
    std::string target; // links only
};

bool isNested(const std::string& path) {
    // A proper ancestor folder named "*.app": the entry belongs to a nested bundle.
    std::size_t end = path.find('/');
    while (end != std::string::npos) {
        std::string_view ancestor(path.data(), end);
        auto slash = ancestor.rfind('/');
        std::string_view name =
            slash == std::string_view::npos ? ancestor : ancestor.substr(slash + 1);
        if (name.size() > 4 && name.substr(name.size() - 4) == ".app")
            return true;
        end = path.find('/', end + 1);
    }
    return false;
}

using Deadline = std::optional<std::chrono::steady_clock::time_point>;

bool passed(const Deadline& deadline) {
    return deadline && std::chrono::steady_clock::now() >= *deadline;
}

constexpr const char* timeLimitProblem = "time limit passed before the check was complete";

// Lists every entry below root, links not followed, the signature folder left out. Nested
// bundles' contents are left out too unless `deep`.
bool scanBundle(const std::string& root, bool deep, std::map<std::string, DiskEntry>& entries,
                std::vector<std::string>& problems, const Deadline& deadline = std::nullopt) {
    std::error_code error;
    fs::recursive_directory_iterator it(root, fs::directory_options::none, error);
    if (error) {
        problems.push_back("cannot list the bundle: " + error.message());
        return false;
    }
    const std::string prefix = root + "/";
    for (; it != fs::recursive_directory_iterator(); it.increment(error)) {
        if (error)
            break;
        if (passed(deadline)) {
            problems.push_back(timeLimitProblem);
            return false;
        }
        std::string full = it->path().string();
        std::string relative = full.substr(prefix.size());
        if (relative == signatureFolder) {
            it.disable_recursion_pending();
            continue;
        }
        if (!deep && isNested(relative)) {
            it.disable_recursion_pending();
            continue;
        }
        struct stat info {};
        if (::lstat(full.c_str(), &info) != 0) {
            problems.push_back(relative + ": cannot examine: " + std::strerror(errno));
            continue;
        }
        DiskEntry entry;
        if (S_ISDIR(info.st_mode)) {
            entry.kind = DiskEntry::Kind::directory;
        } else if (S_ISREG(info.st_mode)) {
            entry.kind =
                (info.st_mode & S_IXUSR) ? DiskEntry::Kind::executable : DiskEntry::Kind::file;
        } else if (S_ISLNK(info.st_mode)) {
            entry.kind = DiskEntry::Kind::link;
            std::vector<char> buffer(static_cast<std::size_t>(PATH_MAX) + 1);
            ssize_t length = ::readlink(full.c_str(), buffer.data(), buffer.size());
            if (length < 0 || static_cast<std::size_t>(length) >= buffer.size()) {
                problems.push_back(relative + ": cannot read the link");
                continue;
            }
            entry.target.assign(buffer.data(), static_cast<std::size_t>(length));
        }
        entries.emplace(std::move(relative), std::move(entry));
    }
    if (error) {
        problems.push_back("cannot list the bundle: " + error.message());
        return false;
    }
    return true;
}

// A link stays inside when its target is relative, never climbs above the bundle directory when
// read component by component, and, if it resolves, resolves to a place inside the bundle (which
// catches a climb through another link).
bool linkStaysInside(const std::string& root, const std::string& relative,
                     const std::string& target) {
    if (target.empty() || target.front() == '/')
        return false;
    std::vector<std::string> stack;
    auto push = [&stack](std::string_view path) {
        std::size_t start = 0;
        while (start <= path.size()) {
            auto end = path.find('/', start);
            if (end == std::string_view::npos)
                end = path.size();
            std::string_view part = path.substr(start, end - start);
            if (part == "..") {
                if (stack.empty())
                    return false;
                stack.pop_back();
            } else if (!part.empty() && part != ".") {
                stack.emplace_back(part);
            }
            start = end + 1;
        }
        return true;
    };
    auto slash = relative.rfind('/');
    if (slash != std::string::npos && !push(std::string_view(relative).substr(0, slash)))
        return false;
    if (!push(target))
        return false;

    char resolved[PATH_MAX];
    std::string full = root + "/" + relative;
    if (::realpath(full.c_str(), resolved)) {
        std::string_view path(resolved);
        return path == root || (path.size() > root.size() && path.substr(0, root.size()) == root &&
                                path[root.size()] == '/');
    }
    return errno == ENOENT || errno == ENOTDIR; // dangling, but inside as written
}

std::optional<std::string> digestOfFile(const std::string& path, std::vector<std::uint8_t>& buffer,
                                        const Deadline& deadline = std::nullopt) {
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
    if (fd < 0)
        return std::nullopt;
    struct stat info {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        ::close(fd);
        return std::nullopt;
    }
    const CryptoLibrary* crypto = CryptoLibrary::load();
    MdContext context(crypto ? crypto->contextNew() : nullptr);
    if (!context || crypto->digestInit(context.get(), crypto->sha256(), nullptr) != 1) {
        ::close(fd);
        return std::nullopt;
    }
    for (;;) {
        ssize_t count = ::read(fd, buffer.data(), buffer.size());
        if (count < 0) {
            if (errno == EINTR)
                continue;
            ::close(fd);
            return std::nullopt;
        }
        if (count == 0)
            break;
        if (passed(deadline)) {
            ::close(fd);
            return std::nullopt;
        }
        crypto->digestUpdate(context.get(), buffer.data(), static_cast<std::size_t>(count));
    }
    ::close(fd);
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (crypto->digestFinal(context.get(), digest, &length) != 1)
        return std::nullopt;
    return hexEncode({digest, length});
}

bool writeFile(const std::string& path, const std::string& bytes) {
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0644);
    if (fd < 0)
        return false;
    bool written = writeAll(fd, bytes) && ::fsync(fd) == 0;
    int error = errno;
    bool closed = ::close(fd) == 0;
    if (!written)
        errno = error; // the caller reports what failed first
    return written && closed;
}

// The bundle directory with every link resolved, so that containment is judged on real paths.
std::optional<std::string> bundleRoot(const std::string& bundle, std::string& error) {
    char resolved[PATH_MAX];
    if (!::realpath(bundle.c_str(), resolved)) {
        error = bundle + ": " + std::strerror(errno);
        return std::nullopt;
    }
    std::string root = resolved;
    struct stat info {};
    if (::stat(root.c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) {
        error = bundle + ": not a bundle directory";
        return std::nullopt;
    }
    if (::lstat((root + "/Contents").c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) {
        error = bundle + ": not a bundle (no Contents folder)";
        return std::nullopt;
    }
    return root;
}

ManifestEntry::Kind manifestKind(DiskEntry::Kind kind) {
    switch (kind) {
    case DiskEntry::Kind::directory:
        return ManifestEntry::Kind::directory;
    case DiskEntry::Kind::executable:
        return ManifestEntry::Kind::executable;
    case DiskEntry::Kind::link:
        return ManifestEntry::Kind::link;
    default:
        return ManifestEntry::Kind::file;
    }
}

} // namespace

Key loadPrivateKeyFile(const std::string& path, std::string& error) {
    return loadKeyFile(path, true, error);
}
Key loadPublicKeyFile(const std::string& path, std::string& error) {
    return loadKeyFile(path, false, error);
}

Key loadPublicKeyPem(const std::string& pem, std::string& error) {
    const CryptoLibrary* crypto = CryptoLibrary::load();
    if (!crypto) {
        error = noCryptoLibrary;
        return nullptr;
    }
    Bio bio(crypto->bioNewMemBuf(pem.data(), static_cast<int>(pem.size())));
    if (!bio) {
        error = "out of memory";
        return nullptr;
    }
    return requireEd25519(*crypto, crypto->readPublicKey(bio.get(), nullptr, nullptr, nullptr),
                          "built-in trusted key", error);
}

bool signBundle(const std::string& bundle, EVP_PKEY* privateKey, std::string& error) {
    auto root = bundleRoot(bundle, error);
    if (!root)
        return false;
    std::map<std::string, DiskEntry> entries;
    std::vector<std::string> problems;
    scanBundle(*root, /*deep=*/true, entries, problems);
    BundleManifest manifest;
    std::vector<std::uint8_t> buffer(1024 * 1024);
    for (const auto& [path, entry] : entries) {
        if (entry.kind == DiskEntry::Kind::other) {
            problems.push_back(path + ": neither a file, a folder nor a link");
            continue;
        }
        ManifestEntry item{manifestKind(entry.kind), path, "", ""};
        if (entry.kind == DiskEntry::Kind::link) {
            if (!linkStaysInside(*root, path, entry.target)) {
                problems.push_back(path + ": link leads out of the bundle");
                continue;
            }
            item.target = entry.target;
        } else if (entry.kind != DiskEntry::Kind::directory) {
            auto digest = digestOfFile(*root + "/" + path, buffer);
            if (!digest) {
                problems.push_back(path + ": cannot read");
                continue;
            }
            item.digest = *digest;
        }
        manifest.entries.push_back(std::move(item));
    }
    if (!problems.empty()) {
        error = problems.front();
        for (std::size_t i = 1; i < problems.size(); ++i)
            error += "\n" + problems[i];
        return false;
    }

    std::string text = manifest.encode();
    const CryptoLibrary* crypto = CryptoLibrary::load();
    if (!crypto || !privateKey) {
        error = crypto ? "no signing key" : noCryptoLibrary;
        return false;
    }
    MdContext context(crypto->contextNew());
    unsigned char signature[signatureSize];
    std::size_t length = sizeof signature;
    if (!context || crypto->signInit(context.get(), nullptr, nullptr, nullptr, privateKey) != 1 ||
        crypto->sign(context.get(), signature, &length,
                     reinterpret_cast<const unsigned char*>(text.data()), text.size()) != 1 ||
        length != signatureSize) {
        error = "signing failed";
        return false;
    }

    std::string folder = *root + "/" + signatureFolder;
    std::error_code ignored;
    fs::remove_all(folder, ignored);
    if (::mkdir(folder.c_str(), 0755) != 0 || !writeFile(folder + "/" + manifestFileName, text) ||
        !writeFile(folder + "/" + signatureFileName,
                   std::string(reinterpret_cast<const char*>(signature), length))) {
        error = folder + ": cannot write: " + std::strerror(errno);
        return false;
    }
    return true;
}

std::vector<std::string> verifyBundle(const std::string& bundle, EVP_PKEY* trustedKey,
                                      VerifyOptions options) {
    std::vector<std::string> problems;
    std::string error;
    auto root = bundleRoot(bundle, error);
    if (!root)
        return {error};

    const std::string folder = *root + "/" + signatureFolder;
    // Links are refused: the signature must lie in the bundle itself.
    auto manifestFile = readSmallRegularFile(FileURL{folder + "/" + manifestFileName},
                                             manifestSizeLimit, FinalLink::refuse);
    auto signatureFile = readSmallRegularFile(FileURL{folder + "/" + signatureFileName},
                                              signatureSize, FinalLink::refuse);
    if (!manifestFile || !signatureFile)
        return {"not signed (no readable manifest and signature)"};
    const std::string& text = manifestFile->contents;
    const std::string& signature = signatureFile->contents;

    const CryptoLibrary* crypto = CryptoLibrary::load();
    if (!crypto)
        return {noCryptoLibrary};
    MdContext context(crypto->contextNew());
    if (signature.size() != signatureSize || !context || !trustedKey ||
        crypto->verifyInit(context.get(), nullptr, nullptr, nullptr, trustedKey) != 1 ||
        crypto->verify(context.get(), reinterpret_cast<const unsigned char*>(signature.data()),
                       signature.size(), reinterpret_cast<const unsigned char*>(text.data()),
                       text.size()) != 1) {
        return {"signature invalid or not made with the trusted key"};
    }
    auto manifest = BundleManifest::decode(text);
    if (!manifest)
        return {"manifest malformed"};

    std::map<std::string, DiskEntry> onDisk;
    if (!scanBundle(*root, options.deep, onDisk, problems, options.deadline) &&
        passed(options.deadline)) {
        return problems;
    }

    std::vector<std::uint8_t> buffer(1024 * 1024);
    for (const auto& listed : manifest->entries) {
        if (!options.deep && isNested(listed.path))
            continue;
        if (passed(options.deadline)) {
            problems.push_back(timeLimitProblem);
            return problems;
        }
        auto found = onDisk.find(listed.path);
        if (found == onDisk.end()) {
            problems.push_back(listed.path + ": missing");
            continue;
        }
        const DiskEntry& entry = found->second;
        if (entry.kind == DiskEntry::Kind::other || manifestKind(entry.kind) != listed.kind) {
            problems.push_back(listed.path + ": changed kind");
        } else if (entry.kind == DiskEntry::Kind::link) {
            if (entry.target != listed.target)
                problems.push_back(listed.path + ": link changed");
        } else if (entry.kind != DiskEntry::Kind::directory) {
            auto digest = digestOfFile(*root + "/" + listed.path, buffer, options.deadline);
            if (!digest || *digest != listed.digest)
                problems.push_back(listed.path + ": modified");
        }
        onDisk.erase(found);
    }
    if (options.strict) {
        for (const auto& [path, entry] : onDisk)
            problems.push_back(path + ": not in the manifest");
        for (const auto& listed : manifest->entries) {
            if (listed.kind == ManifestEntry::Kind::link &&
                (options.deep || !isNested(listed.path)) &&
                !linkStaysInside(*root, listed.path, listed.target)) {
                problems.push_back(listed.path + ": link leads out of the bundle");
            }
        }
        struct stat info {};
        if (::lstat(folder.c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) {
            problems.push_back(std::string(signatureFolder) + ": not a folder");
        }
        std::error_code listingError;
        for (const auto& item : fs::directory_iterator(folder, listingError)) {
            std::string name = item.path().filename().string();
            if (name != manifestFileName && name != signatureFileName) {
                problems.push_back(std::string(signatureFolder) + "/" + name +
                                   ": not in the manifest");
            }
        }
    }
    return problems;
}

} // namespace quorvel::codesign
