// The DDE command server: service NAME, topic "command", text pokes on any item, each
// handed to a handler that runs it as an IRC command line.
#pragma once

#include "dde/DdeHandles.h"

#include <functional>
#include <string>
#include <string_view>

namespace ircpeer {

class DdeCommandServer {
  public:
    // Returns true when the text was carried out (the poke is then acknowledged DDE_FACK).
    using Handler = std::function<bool(std::string_view text)>;

    // Registers the service; throws std::runtime_error when DDE or the name fails.
    // Only one server may exist per process: DDEML callbacks carry no context pointer.
    DdeCommandServer(const std::string& service, Handler handler);
    ~DdeCommandServer();
    DdeCommandServer(const DdeCommandServer&) = delete;
    DdeCommandServer& operator=(const DdeCommandServer&) = delete;

    static constexpr const char* kTopic = "command";

  private:
    static HDDEDATA CALLBACK Callback(UINT type, UINT format, HCONV conv, HSZ hsz1, HSZ hsz2,
                                      HDDEDATA data, ULONG_PTR data1, ULONG_PTR data2);
    HDDEDATA OnTransaction(UINT type, UINT format, HSZ hsz1, HSZ hsz2, HDDEDATA data);
    bool Run(HDDEDATA data);

    static DdeCommandServer* active_;

    Handler handler_;
    velkor::DdeInstance instance_;
    velkor::DdeString service_;
    velkor::DdeString topic_;
    bool registered_ = false;
};

} // namespace ircpeer
