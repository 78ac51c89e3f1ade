#include "platform/BundleInfo.h"

#include "base/SmallFile.h"

#include <cstdlib>
#include <plist/plist.h>

namespace quorvel {

std::optional<FileURL> BundleInfo::executableURL() const {
    if (!executableName || executableName->empty() ||
        executableName->find('/') != std::string::npos) {
        return std::nullopt;
    }
    return bundleURL.appendingPathComponent("Contents/MacOS")
        .appendingPathComponent(*executableName);
}

std::optional<std::string> BundleInfo::string(std::string_view key) const {
    auto found = strings.find(std::string(key));
    if (found == strings.end())
        return std::nullopt;
    return found->second;
}

std::optional<BundleInfo> readBundle(const FileURL& bundleURL) {
    // Information dictionaries are small; anything huge is not one. Only a regular file is read,
    // so a pipe in its place cannot stall a scan of running applications.
    auto file = readSmallRegularFile(bundleURL.appendingPathComponent("Contents/Info.plist"),
                                     4 * 1024 * 1024);
    if (!file || file->contents.empty())
        return std::nullopt;
    const std::string& data = file->contents;

    plist_t root = nullptr;
    plist_from_memory(data.data(), static_cast<uint32_t>(data.size()), &root);
    if (!root)
        return std::nullopt;
    if (plist_get_node_type(root) != PLIST_DICT) {
        plist_free(root);
        return std::nullopt;
    }

    BundleInfo info;
    info.bundleURL = bundleURL;
    plist_dict_iter iterator = nullptr;
    plist_dict_new_iter(root, &iterator);
    for (;;) {
        char* key = nullptr;
        plist_t value = nullptr;
        plist_dict_next_item(root, iterator, &key, &value);
        if (!key)
            break;
        if (value && plist_get_node_type(value) == PLIST_STRING) {
            char* text = nullptr;
            plist_get_string_val(value, &text);
            if (text) {
                info.strings.emplace(key, text);
                free(text);
            }
        }
        free(key);
    }
    free(iterator);
    plist_free(root);

    info.identifier = info.string("CFBundleIdentifier");
    info.executableName = info.string("CFBundleExecutable");
    return info;
}

FileURL bundleURLForExecutable(const FileURL& executable) {
    FileURL folder = executable.deletingLastPathComponent();
    FileURL contents = folder.deletingLastPathComponent();
    if (folder.lastPathComponent() == "MacOS" && contents.lastPathComponent() == "Contents") {
        return contents.deletingLastPathComponent();
    }
    return folder;
}

FileURL mainBundleURL() {
    return bundleURLForExecutable(currentExecutableURL());
}

} // namespace quorvel
