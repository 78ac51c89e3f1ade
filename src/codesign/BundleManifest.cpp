#include "codesign/BundleManifest.h"

#include <cstdio>

namespace quorvel::codesign {

namespace {

constexpr const char* header = "quorvel-codesign manifest 1";

const char* kindName(ManifestEntry::Kind kind) {
    switch (kind) {
    case ManifestEntry::Kind::directory:
        return "directory";
    case ManifestEntry::Kind::file:
        return "file";
    case ManifestEntry::Kind::executable:
        return "executable";
    case ManifestEntry::Kind::link:
        return "link";
    }
    return "";
}

std::optional<ManifestEntry::Kind> kindFromName(const std::string& name) {
    for (auto kind : {ManifestEntry::Kind::directory, ManifestEntry::Kind::file,
                      ManifestEntry::Kind::executable, ManifestEntry::Kind::link}) {
        if (name == kindName(kind))
            return kind;
    }
    return std::nullopt;
}

bool needsEscape(unsigned char byte) {
    return byte == '%' || byte < 0x20 || byte == 0x7F;
}

int hexValue(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

bool isDigest(const std::string& text) {
    if (text.size() != 64)
        return false;
    for (char c : text) {
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f')))
            return false;
    }
    return true;
}

bool isRelativeEntryPath(const std::string& path) {
    if (path.empty() || path.front() == '/' || path.back() == '/')
        return false;
    std::size_t start = 0;
    while (start <= path.size()) {
        auto end = path.find('/', start);
        if (end == std::string::npos)
            end = path.size();
        std::string part = path.substr(start, end - start);
        if (part.empty() || part == "." || part == "..")
            return false;
        start = end + 1;
    }
    return true;
}

std::vector<std::string> split(const std::string& text, char separator) {
    std::vector<std::string> parts;
    std::size_t start = 0;
    for (;;) {
        auto end = text.find(separator, start);
        if (end == std::string::npos) {
            parts.push_back(text.substr(start));
            return parts;
        }
        parts.push_back(text.substr(start, end - start));
        start = end + 1;
    }
}

} // namespace

std::string escapeManifestField(const std::string& raw) {
    std::string out;
    for (char c : raw) {
        auto byte = static_cast<unsigned char>(c);
        if (needsEscape(byte)) {
            char escape[4];
            std::snprintf(escape, sizeof escape, "%%%02X", byte);
            out += escape;
        } else {
            out.push_back(c);
        }
    }
    return out;
}

std::optional<std::string> unescapeManifestField(const std::string& escaped) {
    std::string out;
    for (std::size_t i = 0; i < escaped.size(); ++i) {
        auto byte = static_cast<unsigned char>(escaped[i]);
        if (byte == '%') {
            if (i + 2 >= escaped.size())
                return std::nullopt;
            int high = hexValue(escaped[i + 1]);
            int low = hexValue(escaped[i + 2]);
            if (high < 0 || low < 0)
                return std::nullopt;
            auto decoded = static_cast<unsigned char>(high * 16 + low);
            if (!needsEscape(decoded))
                return std::nullopt; // only one text form
            out.push_back(static_cast<char>(decoded));
            i += 2;
        } else if (needsEscape(byte)) {
            return std::nullopt;
        } else {
            out.push_back(static_cast<char>(byte));
        }
    }
    return out;
}

std::string BundleManifest::encode() const {
    std::string text = std::string(header) + "\n";
    for (const auto& entry : entries) {
        text += kindName(entry.kind);
        text += '\t';
        switch (entry.kind) {
        case ManifestEntry::Kind::directory:
            text += "-";
            break;
        case ManifestEntry::Kind::file:
        case ManifestEntry::Kind::executable:
            text += entry.digest;
            break;
        case ManifestEntry::Kind::link:
            text += escapeManifestField(entry.target);
            break;
        }
        text += '\t';
        text += escapeManifestField(entry.path);
        text += '\n';
    }
    return text;
}

std::optional<BundleManifest> BundleManifest::decode(const std::string& text) {
    if (text.empty() || text.back() != '\n')
        return std::nullopt;
    auto lines = split(text.substr(0, text.size() - 1), '\n');
    if (lines.empty() || lines.front() != header)
        return std::nullopt;
    BundleManifest manifest;
    for (std::size_t i = 1; i < lines.size(); ++i) {
        auto fields = split(lines[i], '\t');
        if (fields.size() != 3)
            return std::nullopt;
        auto kind = kindFromName(fields[0]);
        auto path = unescapeManifestField(fields[2]);
        if (!kind || !path || !isRelativeEntryPath(*path))
            return std::nullopt;
        ManifestEntry entry{*kind, *path, "", ""};
        switch (*kind) {
        case ManifestEntry::Kind::directory:
            if (fields[1] != "-")
                return std::nullopt;
            break;
        case ManifestEntry::Kind::file:
        case ManifestEntry::Kind::executable:
            if (!isDigest(fields[1]))
                return std::nullopt;
            entry.digest = fields[1];
            break;
        case ManifestEntry::Kind::link: {
            auto target = unescapeManifestField(fields[1]);
            if (!target || target->empty())
                return std::nullopt;
            entry.target = *target;
            break;
        }
        }
        if (!manifest.entries.empty() && !(manifest.entries.back().path < entry.path))
            return std::nullopt;
        manifest.entries.push_back(std::move(entry));
    }
    return manifest;
}

} // namespace quorvel::codesign
