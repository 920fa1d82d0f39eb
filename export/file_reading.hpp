// Reading files of the export folder, or files the editor page names, whole
// and safely: only regular files are read (a FIFO would block the request
// thread, a device would never end), and sizes are bounded so that one
// request cannot exhaust memory.
#pragma once

#include <cstdint>
#include <string>

// Files larger than these are treated as unreadable.
inline constexpr std::uint64_t kMaxBase64FileBytes = std::uint64_t{512} << 20;
inline constexpr std::uint64_t kMaxTextFileBytes = std::uint64_t{128} << 20;

struct stat;

// Opens `path` for reading if it is a regular file of at most `max_bytes`,
// without waiting (a FIFO does not block the open); its size goes to `size`
// and, when `status` is given, what fstat said of it, so callers need not ask
// again. -1 otherwise.
int OpenRegularFile(const std::string& path, std::uint64_t max_bytes, std::uint64_t& size,
                    struct stat* status = nullptr);

// Reads from `offset` until `want` bytes are in, the file ends or a read
// fails (-1).
long long ReadFullAt(int fd, char* buffer, std::size_t want, std::uint64_t offset);

// Reads the regular file at `path` whole. False, with `bytes` empty, when it
// cannot be opened, is not a regular file, is larger than `max_bytes`, or a
// read fails. A file that shrinks while it is read gives what was there; one
// that grows gives its size at opening.
bool ReadWholeFile(const std::string& path, std::uint64_t max_bytes,
                   std::string& bytes);

// Like ReadWholeFile with kMaxBase64FileBytes, but encodes the file to
// Base64 on the way, so that the whole file is never held besides its
// encoding.
bool ReadFileAsBase64(const std::string& path, std::string& base64);

// Replaces the file `to` by a copy of the regular file `from` of at most
// `max_bytes`. `to` is removed first, so that a failed copy never leaves an
// older file standing in for the new one, and is created afresh (mode 0600,
// never through a symlink). False, with `to` removed, when the copy fails.
bool CopyRegularFile(const std::string& from, const std::string& to,
                     std::uint64_t max_bytes);
