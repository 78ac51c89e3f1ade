#include "login/AutostartEntry.h"

#include <glib.h>
#include <memory>

namespace quorvel {

namespace {

constexpr const char* desktopEntryGroup = "Desktop Entry";

struct KeyFileDeleter {
    void operator()(GKeyFile* file) const { g_key_file_free(file); }
};
using KeyFile = std::unique_ptr<GKeyFile, KeyFileDeleter>;

bool isReservedInExec(char c) {
    constexpr std::string_view reserved = " \t\n\"'\\><~|&;$*?#()`";
    return reserved.find(c) != std::string_view::npos;
}

// Resolves the field codes an autostart launch knows: "%%" is a percent sign; the others expand
// to nothing because a login passes no files, URLs or icons.
std::string resolveFieldCodes(std::string_view exec) {
    std::string out;
    out.reserve(exec.size());
    for (std::size_t i = 0; i < exec.size(); ++i) {
        if (exec[i] == '%' && i + 1 < exec.size()) {
            if (exec[i + 1] == '%')
                out.push_back('%');
            ++i;
            continue;
        }
        out.push_back(exec[i]);
    }
    return out;
}

bool readBoolean(GKeyFile* file, const char* key, bool fallback) {
    GError* error = nullptr;
    gboolean value = g_key_file_get_boolean(file, desktopEntryGroup, key, &error);
    if (error) {
        g_error_free(error);
        return fallback;
    }
    return value != FALSE;
}

} // namespace

std::string quoteDesktopExecArgument(std::string_view argument) {
    bool quoted = argument.empty();
    for (char c : argument)
        quoted = quoted || isReservedInExec(c);
    std::string out;
    if (quoted)
        out.push_back('"');
    for (char c : argument) {
        if (quoted && (c == '"' || c == '`' || c == '$' || c == '\\'))
            out.push_back('\\');
        if (c == '%')
            out.push_back('%');
        out.push_back(c);
    }
    if (quoted)
        out.push_back('"');
    return out;
}

std::string makeAutostartEntryText(const FileURL& program, std::string_view name,
                                   std::string_view comment) {
    KeyFile file(g_key_file_new());
    auto set = [&](const char* key, std::string_view value) {
        g_key_file_set_string(file.get(), desktopEntryGroup, key, std::string(value).c_str());
    };
    set("Type", "Application");
    set("Name", name);
    set("Comment", comment);
    set("Exec", quoteDesktopExecArgument(program.path));
    // A session skips the entry once the program is gone (the host app moved or was removed).
    set("TryExec", program.path);
    set("Terminal", "false");
    gsize length = 0;
    gchar* data = g_key_file_to_data(file.get(), &length, nullptr);
    std::string text(data, length);
    g_free(data);
    return text;
}

std::optional<AutostartEntry> parseAutostartEntry(std::string_view text) {
    KeyFile file(g_key_file_new());
    if (!g_key_file_load_from_data(file.get(), text.data(), text.size(), G_KEY_FILE_NONE,
                                   nullptr) ||
        !g_key_file_has_group(file.get(), desktopEntryGroup)) {
        return std::nullopt;
    }
    AutostartEntry entry;
    entry.disabled = readBoolean(file.get(), "Hidden", false) ||
                     !readBoolean(file.get(), "X-GNOME-Autostart-enabled", true);
    if (gchar* exec = g_key_file_get_string(file.get(), desktopEntryGroup, "Exec", nullptr)) {
        std::string resolved = resolveFieldCodes(exec);
        g_free(exec);
        gint count = 0;
        gchar** words = nullptr;
        if (g_shell_parse_argv(resolved.c_str(), &count, &words, nullptr)) {
            for (gint i = 0; i < count; ++i)
                entry.command.emplace_back(words[i]);
            g_strfreev(words);
        }
    }
    return entry;
}

} // namespace quorvel
