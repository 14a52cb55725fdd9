// FileIo: opening, reading and writing the file source's files, POSIX and Windows.
#include "crypto/FileIo.h"

#include "crypto/SystemApi.h"

#include <cerrno>
#include <system_error>
#include <utility>

#include <fcntl.h>
#include <sys/stat.h>
#ifdef _WIN32
#include <io.h>
#include <share.h>
#else
#include <unistd.h>
#endif

namespace velkor::fileio {

namespace {

// errno values differ between C runtimes; map the conditions we name, keep the rest.
int IoCodeFromErrno(int e, int fallback) {
    switch (e) {
    case 0:
        return fallback;
    case ENOENT:
        return EInOutError::FileNotFound;
    case ENOTDIR:
    case ENAMETOOLONG:
    case EINVAL:
        return EInOutError::InvalidFilename;
    case EMFILE:
    case ENFILE:
        return EInOutError::TooManyOpenFiles;
    case EACCES:
    case EPERM:
    case EROFS:
    case EISDIR:
        return EInOutError::AccessDenied;
    case ENOSPC:
    case EFBIG:
        return EInOutError::DiskFull;
    case EIO:
        return 1117; // the Windows code for a device I/O error
    default:
        return e;
    }
}

[[noreturn]] void RaiseIo(int e, int fallback, const std::string& path) {
    throw EInOutError(IoCodeFromErrno(e, fallback), path, e);
}

// The name an error gives a file: its path, or the standard stream "-" stands for.
std::string NameOf(const std::string& path, const char* stream) {
    return path == StandardStream ? stream : path;
}

// A descriptor of its own for a standard stream, so that closing it leaves the process's
// one open. Binary on Windows: text mode would turn LF into CR LF and stop at Ctrl-Z.
int DuplicateStream(int fd, const char* name) {
#ifdef _WIN32
    int copy = _dup(fd);
    if (copy >= 0) _setmode(copy, _O_BINARY);
#else
    int copy = ::fcntl(fd, F_DUPFD_CLOEXEC, 3);
#endif
    if (copy < 0) RaiseIo(errno, 100, name);
    return copy;
}

#ifdef _WIN32
using IoCount = unsigned int;
int SysRead(int fd, void* p, std::size_t n) {
    return _read(fd, p, static_cast<IoCount>(n));
}
int SysWrite(int fd, const void* p, std::size_t n) {
    return _write(fd, p, static_cast<IoCount>(n));
}
int SysClose(int fd) {
    return _close(fd);
}
#else
ssize_t SysRead(int fd, void* p, std::size_t n) {
    return ::read(fd, p, n);
}
ssize_t SysWrite(int fd, const void* p, std::size_t n) {
    return ::write(fd, p, n);
}
int SysClose(int fd) {
    return ::close(fd);
}
#endif

// Opens an existing file for reading, others may only read it meanwhile. Reading only:
// the source never writes its input, so a read-only file or a pipe is a good input.
int OpenInput(const std::string& path) {
    if (path == StandardStream) return DuplicateStream(0, "standard input");
    int fd = -1;
#ifdef _WIN32
    if (int e = _sopen_s(&fd, path.c_str(), _O_RDONLY | _O_BINARY, _SH_DENYWR, 0); e != 0)
        RaiseIo(e, EInOutError::FileNotFound, path);
#else
    do
        fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    while (fd < 0 && errno == EINTR);
    if (fd < 0) RaiseIo(errno, EInOutError::FileNotFound, path);
    // A folder opens for reading on POSIX; refuse it here, before the output exists.
    struct stat st {};
    if (::fstat(fd, &st) == 0 && S_ISDIR(st.st_mode)) {
        ::close(fd);
        RaiseIo(EISDIR, EInOutError::AccessDenied, path);
    }
#endif
    return fd;
}

// Creates the output, or empties an existing one, for writing only.
int OpenOutput(const std::string& path) {
    if (path == StandardStream) return DuplicateStream(1, "standard output");
    int fd = -1;
#ifdef _WIN32
    if (int e = _sopen_s(&fd, path.c_str(), _O_WRONLY | _O_CREAT | _O_TRUNC | _O_BINARY, _SH_DENYWR,
                         _S_IREAD | _S_IWRITE);
        e != 0)
        RaiseIo(e, EInOutError::AccessDenied, path);
#else
    do
        fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    while (fd < 0 && errno == EINTR);
    if (fd < 0) RaiseIo(errno, EInOutError::AccessDenied, path);
#endif
    return fd;
}

} // namespace

FileDescriptor::~FileDescriptor() {
    if (fd_ >= 0) SysClose(fd_);
}

void FileDescriptor::Close() {
    int fd = fd_;
    fd_ = -1;
    if (fd >= 0 && SysClose(fd) != 0) RaiseIo(errno, EInOutError::DiskFull, path_);
}

InputFile::InputFile(const std::string& path)
    : file_(OpenInput(path), NameOf(path, "standard input")) {}

bool InputFile::SameAs(const std::string& output) const {
    auto in = FileIdentityOf(file_.Get());
    if (!in || in->ReadsAndWritesApart) return false;
    auto out = output == StandardStream ? FileIdentityOf(1) : FileIdentityOf(output);
    return out && *out == *in;
}

std::size_t InputFile::Fill(std::uint8_t* into, std::size_t n) {
    std::size_t done = 0;
    while (done < n && !atEnd_) {
        errno = 0;
        auto got = SysRead(file_.Get(), into + done, n - done);
        if (got > 0)
            done += static_cast<std::size_t>(got);
        else if (got == 0)
            atEnd_ = true;
        else if (errno != EINTR)
            RaiseIo(errno, 100, file_.Path());
    }
    return done;
}

OutputFile::OutputFile(const std::string& path)
    : file_(OpenOutput(path), NameOf(path, "standard output")) {}

void OutputFile::Write(const std::uint8_t* from, std::size_t n) {
    while (n > 0) {
        errno = 0;
        auto put = SysWrite(file_.Get(), from, n);
        if (put > 0) {
            from += put;
            n -= static_cast<std::size_t>(put);
        } else if (put == 0 || errno != EINTR) {
            RaiseIo(put < 0 ? errno : 0, EInOutError::DiskFull, file_.Path());
        }
    }
}

void OutputWriter::Write(const std::uint8_t* from, std::size_t n) {
    std::unique_lock lock(mutex_);
    idle_.wait(lock, [this] { return pending_ == nullptr; });
    if (error_) std::rethrow_exception(std::exchange(error_, nullptr));
    pending_ = from;
    pendingSize_ = n;
    work_.notify_one();
}

void OutputWriter::Close() {
    Finish();
    if (error_) std::rethrow_exception(std::exchange(error_, nullptr));
    file_.Close();
}

void OutputWriter::Run() {
    std::unique_lock lock(mutex_);
    for (;;) {
        work_.wait(lock, [this] { return pending_ != nullptr || stop_; });
        if (pending_ == nullptr) return;
        lock.unlock();
        std::exception_ptr error;
        try {
            file_.Write(pending_, pendingSize_);
        } catch (...) {
            error = std::current_exception();
        }
        lock.lock();
        if (error && !error_) error_ = error;
        pending_ = nullptr;
        idle_.notify_one();
    }
}

void OutputWriter::Finish() {
    if (!thread_.joinable()) return;
    {
        std::lock_guard lock(mutex_);
        stop_ = true;
        work_.notify_one();
    }
    thread_.join();
}

} // namespace velkor::fileio
