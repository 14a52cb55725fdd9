// SystemApi: random bytes and file identities, POSIX and Windows.
#include "crypto/SystemApi.h"

#include <cerrno>
#include <cstring>
#include <system_error>

#ifdef _WIN32
// Only here does the cipher component meet the Win32 API; the native build never sees it.
#include <windows.h>

#include <bcrypt.h>
#include <io.h>
#else
#include <sys/stat.h>
#include <unistd.h>
#ifdef __linux__
#include <sys/random.h>
#endif
#endif

namespace velkor {

#ifdef _WIN32

void SystemRandomBytes(void* into, std::size_t n) {
    auto* b = static_cast<unsigned char*>(into);
    while (n > 0) {
        ULONG part = n > 0x10000000 ? 0x10000000 : static_cast<ULONG>(n);
        NTSTATUS s = BCryptGenRandom(nullptr, b, part, BCRYPT_USE_SYSTEM_PREFERRED_RNG);
        if (s < 0)
            throw std::system_error(static_cast<int>(s), std::system_category(), "BCryptGenRandom");
        b += part;
        n -= part;
    }
}

namespace {

std::optional<TFileIdentity> IdentityOfHandle(HANDLE h) {
    // FileIdInfo holds the whole 128-bit index of ReFS. (Wine 8 answers it for the standard
    // handles it makes of a Unix shell's redirections, but with the volume serial number 0.)
    FILE_ID_INFO info;
    if (h == INVALID_HANDLE_VALUE ||
        !GetFileInformationByHandleEx(h, FileIdInfo, &info, sizeof info))
        return std::nullopt;
    TFileIdentity id;
    id.Device = info.VolumeSerialNumber;
    static_assert(sizeof info.FileId == sizeof id.Index);
    std::memcpy(id.Index.data(), &info.FileId, sizeof id.Index);
    id.ReadsAndWritesApart = GetFileType(h) == FILE_TYPE_CHAR;
    return id;
}

} // namespace

std::optional<TFileIdentity> FileIdentityOf(int fd) {
    return IdentityOfHandle(reinterpret_cast<HANDLE>(_get_osfhandle(fd)));
}

std::optional<TFileIdentity> FileIdentityOf(const std::string& path) {
    // No access asked for: this opens files that others hold open, and folders.
    HANDLE h = CreateFileA(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                           nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (h == INVALID_HANDLE_VALUE) return std::nullopt;
    auto id = IdentityOfHandle(h);
    CloseHandle(h);
    return id;
}

#else

void SystemRandomBytes(void* into, std::size_t n) {
    auto* b = static_cast<unsigned char*>(into);
    while (n > 0) {
#ifdef __linux__
        ssize_t got = ::getrandom(b, n, 0);
#else
        std::size_t part = n < 256 ? n : 256; // getentropy's limit per call
        ssize_t got = ::getentropy(b, part) == 0 ? static_cast<ssize_t>(part) : -1;
#endif
        if (got < 0) {
            if (errno == EINTR) continue;
            throw std::system_error(errno, std::generic_category(), "the system's random source");
        }
        b += got;
        n -= static_cast<std::size_t>(got);
    }
}

namespace {

TFileIdentity IdentityOfStat(const struct stat& st) {
    TFileIdentity id;
    id.Device = static_cast<std::uint64_t>(st.st_dev);
    id.Index[0] = static_cast<std::uint64_t>(st.st_ino);
    id.ReadsAndWritesApart = S_ISCHR(st.st_mode) || S_ISSOCK(st.st_mode);
    return id;
}

} // namespace

std::optional<TFileIdentity> FileIdentityOf(int fd) {
    struct stat st {};
    if (::fstat(fd, &st) != 0) return std::nullopt;
    return IdentityOfStat(st);
}

std::optional<TFileIdentity> FileIdentityOf(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return std::nullopt;
    return IdentityOfStat(st);
}

#endif

} // namespace velkor
