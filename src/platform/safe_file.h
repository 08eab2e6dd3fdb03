#pragma once

// Whole-file reads and crash-safe whole-file writes.

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>

namespace vellora {

// The file's bytes, or nothing with `error` set (a missing file gives no_such_file_or_directory).
std::optional<std::string> ReadWholeFile(const std::filesystem::path& path, std::error_code& error);

// Replaces the file's contents with `bytes`: written to a temporary file in the same directory,
// flushed and synced, then renamed over the old file, so a crash or a failure at any step
// leaves either the old contents or the new ones, never a mixture. A symbolic link at `path`
// is kept and its target replaced, unless told otherwise. A new file gets mode 0644 less the umask;
// an existing one keeps its mode. Returns the first error; on error the old file is untouched.
enum class LinkPolicy {
  kFollow,   // a link at `path` stays and its target gets the new contents
  kReplace,  // the link itself is replaced: for shared directories such as /tmp, where a link
             // planted at a known name must never redirect the write
};
std::error_code WriteFileAtomically(const std::filesystem::path& path, std::string_view bytes,
                                    LinkPolicy links = LinkPolicy::kFollow);

// For tests: the rename step calls this instead of ::rename while set (nullptr restores it).
using RenameFunction = int (*)(const char* from, const char* to);
void SetRenameFunctionForTesting(RenameFunction rename_function);

}  // namespace vellora
