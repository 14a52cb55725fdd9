// FileIo: opening, reading and writing the file source's files, POSIX and Windows.
#include "crypto/FileIo.h"

#include <cerrno>
#include <filesystem>
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
    throw EInOutError(IoCodeFromErrno(e, fallback), path);
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

bool SameFile(const std::string& input, const std::string& output) {
    namespace fs = std::filesystem;
    std::error_code ec;
    auto status = fs::status(input, ec);
    if (ec || !(fs::is_regular_file(status) || fs::is_block_file(status))) return false;
    bool same = fs::equivalent(input, output, ec);
    return same && !ec;
}

FileDescriptor::~FileDescriptor() {
    if (fd_ >= 0) SysClose(fd_);
}

void FileDescriptor::Close() {
    int fd = fd_;
    fd_ = -1;
    if (fd >= 0 && SysClose(fd) != 0) RaiseIo(errno, EInOutError::DiskFull, path_);
}

InputFile::InputFile(const std::string& path) : file_(OpenInput(path), path) {}

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

OutputFile::OutputFile(const std::string& path) : file_(OpenOutput(path), path) {}

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
