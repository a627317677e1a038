// An open file: a byte sequence read and written at explicit offsets.
//
// Files come from an Env (Env.hpp): disk files over POSIX descriptors, or files of the
// in-memory twin. Two standalone kinds exist besides: openFile, a disk file without naming the
// Env, and createMemoryFile, a private growable buffer that virtual indexes use. All are binary
// (bytes pass unchanged) and unbuffered: a write has reached the file when it returns, and
// sync() makes it durable.
//
// The positioned operations (readAt, writeAt) keep no position and need no lock: any number
// of threads may read, and write disjoint ranges, at once. For code that reads or writes in
// sequence there is a cursor (seek, read, write); it is one position shared by every user of
// the object, so threads that share a file and use the cursor hold a lock of their own around
// each seek and the transfers after it.
//
// Failures are IOErrors of the system kind carrying errno and name(). After close() every
// operation except isOpen() and name() fails with an IOError (EBADF) and never touches a
// released descriptor; a second close() does nothing.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include <tallowmere/Platform/Export.hpp>

namespace tallowmere {

// Where a file lives: its device and inode. Two paths or handles with the same identity reach
// the same file, whichever links lie on the way.
struct TALLOWMERE_API FileIdentity {
  std::uint64_t device = 0;
  std::uint64_t inode = 0;

  friend bool operator==(const FileIdentity&, const FileIdentity&) = default;
};

class TALLOWMERE_API File {
 public:
  virtual ~File() = default;
  File() = default;
  File(const File&) = delete;
  File& operator=(const File&) = delete;

  // Reads up to `size` bytes from `offset` into `buffer`; fewer only at the end of the file.
  // A negative offset is an IOError (EINVAL).
  [[nodiscard]] virtual std::size_t readAt(std::int64_t offset, char* buffer, std::size_t size) = 0;
  // Writes all of `bytes` from `offset`; a gap past the end reads back as zero bytes.
  virtual void writeAt(std::int64_t offset, std::string_view bytes) = 0;
  [[nodiscard]] virtual std::int64_t size() = 0;
  // Cuts the file to `size` bytes, or extends it with zero bytes. Negative: IOError (EINVAL).
  virtual void setSize(std::int64_t size) = 0;
  // Makes everything written so far durable: it survives a crash of the machine.
  virtual void sync() = 0;
  // Starts writing the given range to the disk without waiting for it, so that a later sync()
  // has less left to wait for. Only a hint: it may do nothing, and it never fails.
  virtual void startWriteback(std::int64_t offset, std::int64_t length) noexcept {
    (void)offset;
    (void)length;
  }
  [[nodiscard]] virtual FileIdentity identity() = 0;
  // Releases the file. A failure to close is reported once; the file counts as closed anyway.
  virtual void close() = 0;
  [[nodiscard]] virtual bool isOpen() = 0;
  // The name used in error messages: the path, or the name given to a memory file.
  [[nodiscard]] virtual const std::string& name() const = 0;

  // Up to `size` bytes from `offset`, fewer only at the end of the file. Never reserves more
  // memory than the file holds past `offset`, so `size` may come from untrusted data.
  [[nodiscard]] std::string readAt(std::int64_t offset, std::size_t size);

  // The cursor. seek moves it to an absolute offset (beyond the end is allowed; negative is
  // EINVAL); readSome, read and write transfer at it and move it past what they transferred.
  void seek(std::int64_t offset);
  [[nodiscard]] std::int64_t position();
  std::size_t readSome(char* buffer, std::size_t size);
  [[nodiscard]] std::string read(std::size_t size);
  std::string readToEnd();
  void write(std::string_view bytes);
  // Nothing is buffered, so there is nothing to push; fails only on a closed file. sync() is
  // what makes data durable.
  void flush();
  // True when the cursor is at or beyond the end of the file.
  [[nodiscard]] bool atEnd();

 private:
  std::atomic<std::int64_t> position_{0};
};

enum class OpenMode {
  ReadOnly,   // fails when the file does not exist; every change fails
  ReadWrite,  // creates a missing file (mode 0666 less the umask); never truncates
  Truncate,   // as ReadWrite, and empties an existing file
  // As ReadWrite, but never through a symbolic link: fails (ELOOP) when the last component of
  // the path is one, even one that points nowhere, so nothing planted there is written through
  // or created at its target. For the files that a writer keeps beside the text (its index).
  ReadWriteNoFollow,
  // Creates a new file, readable and writable by its owner only (0600 less the umask), and
  // fails (EEXIST) when the name is taken by anything at all, a symbolic link included: nothing
  // that was there is opened, followed or written through (O_CREAT | O_EXCL | O_NOFOLLOW).
  CreateNew,
};

// Opens a file on disk: Env::disk().openFile (see Env.hpp). Fails with the platform's IOError
// (errno and path), also when the path names a directory.
[[nodiscard]] TALLOWMERE_API std::unique_ptr<File> openFile(const std::string& path, OpenMode mode);

// A new, empty, growable file held in memory, open for reading and writing; `name` appears
// in its error messages. Its bytes are discarded when it is closed.
[[nodiscard]] TALLOWMERE_API std::unique_ptr<File> createMemoryFile(std::string name);

}  // namespace tallowmere
