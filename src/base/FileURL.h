#pragma once

#include <string>
#include <string_view>

namespace quorvel {

// A location in the local file system, kept as the path text it was made from. Paths are compared
// as text: no symbolic link is ever resolved, so a path through a link is another path.
struct FileURL {
    std::string path;

    bool operator==(const FileURL&) const = default;

    static FileURL fromPath(std::string path) { return FileURL{std::move(path)}; }

    bool isAbsolute() const { return !path.empty() && path.front() == '/'; }
    // The last non-empty component; "/" for the root, "" for an empty path.
    std::string lastPathComponent() const;
    // The path without its last component ("/a/b" -> "/a", "/a" -> "/", "a" -> "").
    FileURL deletingLastPathComponent() const;
    // Joins one more component with a single "/".
    FileURL appendingPathComponent(std::string_view component) const;
    // Text after the last "." of the last component, "" when there is none (".profile" has none).
    std::string pathExtension() const;
    // "." and empty components removed, ".." resolved lexically, trailing "/" removed.
    FileURL standardized() const;
};

// Lexical standardisation of a path: see FileURL::standardized.
std::string standardizePath(std::string_view path);

} // namespace quorvel
