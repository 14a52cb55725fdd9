// Owning wrappers for the handles of DDE.
#include "tools/ircpeer/DdeHandles.h"

#include <stdexcept>
#include <vector>

namespace ircpeer {

DdeInstance::DdeInstance(PFNCALLBACK callback, DWORD flags) {
    UINT rc = DdeInitializeA(&id_, callback, flags, 0);
    if (rc != DMLERR_NO_ERROR) {
        id_ = 0;
        throw std::runtime_error("DdeInitialize failed, error " + std::to_string(rc));
    }
}

DdeInstance::~DdeInstance() {
    if (id_) DdeUninitialize(id_);
}

DdeInstance& DdeInstance::operator=(DdeInstance&& other) noexcept {
    if (this != &other) {
        if (id_) DdeUninitialize(id_);
        id_ = std::exchange(other.id_, 0);
    }
    return *this;
}

DdeString::DdeString(DWORD instance, const std::string& text)
    : instance_(instance), hsz_(DdeCreateStringHandleA(instance, text.c_str(), CP_WINANSI)) {}

DdeString::~DdeString() {
    if (hsz_) DdeFreeStringHandle(instance_, hsz_);
}

DdeString& DdeString::operator=(DdeString&& other) noexcept {
    if (this != &other) {
        if (hsz_) DdeFreeStringHandle(instance_, hsz_);
        instance_ = other.instance_;
        hsz_ = std::exchange(other.hsz_, nullptr);
    }
    return *this;
}

std::string QueryDdeString(DWORD instance, HSZ hsz) {
    // For a zero handle DdeQueryString writes "" yet returns 1: test the handle instead.
    if (!hsz) return {};
    DWORD length = DdeQueryStringA(instance, hsz, nullptr, 0, CP_WINANSI);
    std::vector<char> buffer(length + 1, '\0');
    DdeQueryStringA(instance, hsz, buffer.data(), length + 1, CP_WINANSI);
    return std::string(buffer.data());
}

DdeConversation::~DdeConversation() {
    if (conv_) DdeDisconnect(conv_);
}

DdeConversation& DdeConversation::operator=(DdeConversation&& other) noexcept {
    if (this != &other) {
        if (conv_) DdeDisconnect(conv_);
        conv_ = std::exchange(other.conv_, nullptr);
    }
    return *this;
}

GlobalAtom::~GlobalAtom() {
    if (atom_) GlobalDeleteAtom(atom_);
}

GlobalAtom& GlobalAtom::operator=(GlobalAtom&& other) noexcept {
    if (this != &other) {
        if (atom_) GlobalDeleteAtom(atom_);
        atom_ = std::exchange(other.atom_, 0);
    }
    return *this;
}

GlobalBlock::~GlobalBlock() {
    if (mem_) GlobalFree(mem_);
}

GlobalBlock& GlobalBlock::operator=(GlobalBlock&& other) noexcept {
    if (this != &other) {
        if (mem_) GlobalFree(mem_);
        mem_ = std::exchange(other.mem_, nullptr);
    }
    return *this;
}

} // namespace ircpeer
