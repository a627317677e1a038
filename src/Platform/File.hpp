// An open file: a byte sequence with a current position.
//
// Two implementations: a disk file over a POSIX descriptor (openFile) and a growable in-memory
// file (createMemoryFile) that tests and virtual indexes use. Both are binary (bytes pass
// unchanged) and unbuffered: every write reaches the file (or the buffer) before it returns,
// so flush() has nothing to push and exists for callers that want to say where data must be
// complete.
//
// Every operation is serialised by the object's own lock, so several threads may share one
// File; an operation that needs a position (read, write) should be preceded by a seek under
// the caller's own lock. Failures are IOErrors of the system kind carrying errno and name().
// After close() every operation except isOpen() and name() fails with an IOError (EBADF) and
// never touches a released descriptor; a second close() does nothing.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace tallowmere {

class File {
 public:
  virtual ~File() = default;
  File() = default;
  File(const File&) = delete;
  File& operator=(const File&) = delete;

  // Moves the position to the absolute byte offset (beyond the end is allowed; a later write
  // there fills the gap with zero bytes). A negative offset is an IOError (EINVAL).
  virtual void seek(std::int64_t offset) = 0;
  virtual std::int64_t position() = 0;
  // Reads up to `size` bytes at the position into `buffer` and advances the position by the
  // number read, which is below `size` only at the end of the file.
  virtual std::size_t readSome(char* buffer, std::size_t size) = 0;
  // Writes all of `bytes` at the position and advances the position past them.
  virtual void write(std::string_view bytes) = 0;
  virtual void flush() = 0;
  virtual std::int64_t size() = 0;
  // Cuts the file to `size` bytes, or extends it with zero bytes; the position is unchanged.
  // A negative size is an IOError (EINVAL).
  virtual void setSize(std::int64_t size) = 0;
  // True when the position is at or beyond the end of the file.
  virtual bool atEnd() = 0;
  // Releases the file. A failure to close is reported once; the file counts as closed anyway.
  virtual void close() = 0;
  virtual bool isOpen() = 0;
  // The name used in error messages: the path, or the name given to a memory file.
  virtual const std::string& name() const = 0;

  // Reads up to `size` bytes at the position: fewer only at the end of the file. Never
  // reserves more memory than the file holds past the position, so `size` may come from
  // untrusted data. Made of several locked calls: a caller sharing the file between threads
  // holds its own lock around the seek and the read.
  std::string read(std::size_t size);
  // Reads from the position to the end of the file.
  std::string readToEnd();
};

enum class OpenMode {
  ReadOnly,   // fails when the file does not exist; every change fails
  ReadWrite,  // creates a missing file (mode 0666 less the umask); never truncates
};

// Opens a file on disk. Fails with the platform's IOError (errno and path), also when the
// path names a directory.
std::unique_ptr<File> openFile(const std::string& path, OpenMode mode);

// A new, empty, growable file held in memory, open for reading and writing; `name` appears
// in its error messages. Its bytes are discarded when it is closed.
std::unique_ptr<File> createMemoryFile(std::string name);

}  // namespace tallowmere
