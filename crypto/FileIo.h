// FileIo: the files of the cipher component's file source. The input is only read, so
// read-only files and pipes serve; the output is written by a thread of its own while
// the cipher works on the next buffer. Failures raise EInOutError naming the file.
#pragma once

#include "crypto/Cryptcon.h"

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <exception>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <utility>

namespace velkor::fileio {

// The files move through buffers of this size, a multiple of the chunk, while the cipher
// takes them 4096 bytes at a time: a system call per chunk costs more than enciphering it.
inline constexpr std::size_t TransferSize = std::size_t{1} << 20;
static_assert(TransferSize % TCrypto::FileChunkSize == 0);

// The path that stands for standard input (as the input) or standard output (as the
// output); a file of that name is "./-". Errors then name "standard input" or "standard
// output".
inline constexpr std::string_view StandardStream = "-";

// A file descriptor with its path, closed when the object goes.
class FileDescriptor {
  public:
    FileDescriptor(int fd, std::string path) : fd_(fd), path_(std::move(path)) {}
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    ~FileDescriptor();

    const std::string& Path() const { return path_; }
    int Get() const { return fd_; }
    void Close();

  private:
    int fd_;
    std::string path_;
};

// The input file, an existing file opened for reading only; others may only read it
// meanwhile. A folder is refused.
class InputFile {
  public:
    explicit InputFile(const std::string& path);

    // Whether the output path names this file itself (by another name, a link, "-" for
    // standard output): same device and inode, on Windows the same volume serial number
    // and file index, for every kind of file. Terminals, /dev/null and sockets are left
    // alone: they read and write apart, and standard input and output are often the same
    // terminal.
    bool SameAs(const std::string& output) const;

    // Up to n bytes; fewer only at the end of the file (a pipe may deliver less per read).
    std::size_t Fill(std::uint8_t* into, std::size_t n);
    void Close() { file_.Close(); }

  private:
    FileDescriptor file_;
    bool atEnd_ = false;
};

// The output file, created or emptied, for writing only.
class OutputFile {
  public:
    explicit OutputFile(const std::string& path);

    // All n bytes; a write that stores nothing and reports nothing is a full disk.
    void Write(const std::uint8_t* from, std::size_t n);
    void Close() { file_.Close(); }

  private:
    FileDescriptor file_;
};

// The output file written on a thread of its own, so that the cipher fills the next
// transfer buffer meanwhile: writing a fresh file costs about as much as reading and
// enciphering it. One buffer at a time is on its way; an error comes back at the next
// hand-over or at Close. Going away without Close still writes the buffer on its way,
// so the file keeps every chunk handed over before an error elsewhere.
class OutputWriter {
  public:
    explicit OutputWriter(const std::string& path) : file_(path), thread_([this] { Run(); }) {}
    OutputWriter(const OutputWriter&) = delete;
    OutputWriter& operator=(const OutputWriter&) = delete;
    ~OutputWriter() { Finish(); }

    // Waits until the buffer handed over before is written, then hands this one over;
    // it must stay untouched until the next call returns.
    void Write(const std::uint8_t* from, std::size_t n);
    void Close();

  private:
    void Run();
    void Finish();

    OutputFile file_;
    std::mutex mutex_;
    std::condition_variable work_, idle_;
    const std::uint8_t* pending_ = nullptr;
    std::size_t pendingSize_ = 0;
    bool stop_ = false;
    std::exception_ptr error_;
    std::thread thread_; // last: it starts on the members above
};

} // namespace velkor::fileio
