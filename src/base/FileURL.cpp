#include "base/FileURL.h"

#include <vector>

namespace quorvel {

namespace {

std::string_view trimTrailingSlashes(std::string_view path) {
    while (path.size() > 1 && path.back() == '/') {
        path.remove_suffix(1);
    }
    return path;
}

} // namespace

std::string FileURL::lastPathComponent() const {
    std::string_view trimmed = trimTrailingSlashes(path);
    if (trimmed == "/") {
        return "/";
    }
    auto slash = trimmed.rfind('/');
    return std::string(slash == std::string_view::npos ? trimmed : trimmed.substr(slash + 1));
}

FileURL FileURL::deletingLastPathComponent() const {
    std::string_view trimmed = trimTrailingSlashes(path);
    auto slash = trimmed.rfind('/');
    if (slash == std::string_view::npos) {
        return FileURL{""};
    }
    if (slash == 0) {
        return FileURL{"/"};
    }
    return FileURL{std::string(trimTrailingSlashes(trimmed.substr(0, slash)))};
}

FileURL FileURL::appendingPathComponent(std::string_view component) const {
    if (path.empty()) {
        return FileURL{std::string(component)};
    }
    std::string joined = path;
    if (joined.back() != '/') {
        joined.push_back('/');
    }
    while (!component.empty() && component.front() == '/') {
        component.remove_prefix(1);
    }
    joined.append(component);
    return FileURL{std::move(joined)};
}

std::string FileURL::pathExtension() const {
    std::string last = lastPathComponent();
    auto dot = last.rfind('.');
    if (dot == std::string::npos || dot == 0) {
        return "";
    }
    return last.substr(dot + 1);
}

FileURL FileURL::standardized() const {
    return FileURL{standardizePath(path)};
}

std::string standardizePath(std::string_view path) {
    bool absolute = !path.empty() && path.front() == '/';
    std::vector<std::string_view> parts;
    std::size_t start = 0;
    while (start <= path.size()) {
        auto end = path.find('/', start);
        if (end == std::string_view::npos) {
            end = path.size();
        }
        std::string_view part = path.substr(start, end - start);
        if (part.empty() || part == ".") {
            // dropped
        } else if (part == "..") {
            if (!parts.empty() && parts.back() != "..") {
                parts.pop_back();
            } else if (!absolute) {
                parts.push_back(part);
            }
        } else {
            parts.push_back(part);
        }
        start = end + 1;
    }
    std::string result = absolute ? "/" : "";
    for (std::size_t i = 0; i < parts.size(); ++i) {
        if (i > 0) {
            result.push_back('/');
        }
        result.append(parts[i]);
    }
    return result;
}

} // namespace quorvel
