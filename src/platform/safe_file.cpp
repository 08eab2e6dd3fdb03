#include "platform/safe_file.h"

#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>

namespace vellora {
namespace {

std::atomic<RenameFunction> rename_for_testing{nullptr};

std::error_code LastError() { return std::error_code(errno, std::generic_category()); }

class FileDescriptor {
 public:
  explicit FileDescriptor(int fd) : fd_(fd) {}
  ~FileDescriptor() {
    if (fd_ >= 0) ::close(fd_);
  }
  FileDescriptor(const FileDescriptor&) = delete;
  FileDescriptor& operator=(const FileDescriptor&) = delete;
  int Get() const { return fd_; }
  // Closes now, reporting the error that close may be the first to see.
  std::error_code Close() {
    const int fd = fd_;
    fd_ = -1;
    return ::close(fd) == 0 ? std::error_code() : LastError();
  }

 private:
  int fd_;
};

std::error_code WriteAll(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t written = ::write(fd, bytes.data(), bytes.size());
    if (written < 0) {
      if (errno == EINTR) continue;
      return LastError();
    }
    bytes.remove_prefix(static_cast<std::size_t>(written));
  }
  return {};
}

}  // namespace

std::optional<std::string> ReadWholeFile(const std::filesystem::path& path,
                                         std::error_code& error) {
  error.clear();
  FileDescriptor fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (fd.Get() < 0) {
    error = LastError();
    return std::nullopt;
  }
  std::string bytes;
  char block[65536];
  for (;;) {
    const ssize_t got = ::read(fd.Get(), block, sizeof(block));
    if (got < 0) {
      if (errno == EINTR) continue;
      error = LastError();
      return std::nullopt;
    }
    if (got == 0) break;
    bytes.append(block, static_cast<std::size_t>(got));
  }
  return bytes;
}

std::error_code WriteFileAtomically(const std::filesystem::path& path, std::string_view bytes,
                                    LinkPolicy links) {
  std::filesystem::path target = path;
  std::error_code error;
  if (links == LinkPolicy::kFollow && std::filesystem::is_symlink(path, error)) {
    const std::filesystem::path canonical = std::filesystem::weakly_canonical(path, error);
    if (error) return error;
    target = canonical;
  }

  mode_t mode = 0;
  struct stat existing {};
  const int found = links == LinkPolicy::kFollow ? ::stat(target.c_str(), &existing)
                                                 : ::lstat(target.c_str(), &existing);
  if (found == 0 && S_ISREG(existing.st_mode)) {
    mode = existing.st_mode & 07777;
  } else {
    const mode_t mask = ::umask(0);
    ::umask(mask);
    mode = 0644 & ~mask;
  }

  std::string temporary = target.string() + ".XXXXXX";
  FileDescriptor fd(::mkostemp(temporary.data(), O_CLOEXEC));
  if (fd.Get() < 0) return LastError();
  auto fail = [&](std::error_code failure) {
    ::unlink(temporary.c_str());
    return failure;
  };
  if (::fchmod(fd.Get(), mode) != 0) return fail(LastError());
  if (auto failure = WriteAll(fd.Get(), bytes)) return fail(failure);
  if (::fsync(fd.Get()) != 0) return fail(LastError());
  if (auto failure = fd.Close()) return fail(failure);

  const RenameFunction rename_function = rename_for_testing.load();
  const int renamed = rename_function != nullptr
                          ? rename_function(temporary.c_str(), target.c_str())
                          : ::rename(temporary.c_str(), target.c_str());
  if (renamed != 0) return fail(LastError());

  // The rename itself lives in the directory: sync it so the new name survives a power cut.
  const std::filesystem::path directory =
      target.has_parent_path() ? target.parent_path() : std::filesystem::path(".");
  FileDescriptor dir(::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (dir.Get() >= 0) ::fsync(dir.Get());
  return {};
}

void SetRenameFunctionForTesting(RenameFunction rename_function) {
  rename_for_testing.store(rename_function);
}

}  // namespace vellora
