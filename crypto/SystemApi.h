// SystemApi: what the cipher component takes from the operating system beyond the C
// runtime: random bytes for IVectors, and the identity of a file (Linux and other POSIX
// systems natively, Windows through its own API).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

namespace velkor {

// n bytes from the system's random source (getrandom, getentropy, BCryptGenRandom);
// raises std::system_error when the source fails.
void SystemRandomBytes(void* into, std::size_t n);

// A file as the system knows it: device and inode, on Windows the volume serial number
// and the file index (128 bits on ReFS). Terminals, /dev/null and sockets read and write
// apart (ReadsAndWritesApart): reading one does not take back what was written to it.
struct TFileIdentity {
    std::uint64_t Device = 0;
    std::array<std::uint64_t, 2> Index{};
    bool ReadsAndWritesApart = false;
    bool operator==(const TFileIdentity& o) const { return Device == o.Device && Index == o.Index; }
};

// The identity of an open file descriptor, or of the file a path names (links followed);
// nullopt when the system gives none (no such file, a Windows pipe or console).
std::optional<TFileIdentity> FileIdentityOf(int fd);
std::optional<TFileIdentity> FileIdentityOf(const std::string& path);

} // namespace velkor
