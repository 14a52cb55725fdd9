// CommandServer: the stand-in for the IRC client's DDE command server, for the tests, the
// benchmarks and ircpeer.
#pragma once

#include "dde/DdeHandles.h"
#include "harness/kit/Pump.h"
#include "win/Handles.h"

#include <windows.h>

#include <ddeml.h>

#include <chrono>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace velkor::kit {

// The IRC client's DDE command server: service `service`, topic "command" (or `topic`); a
// CF_TEXT poke on any item, or an execute, is a command line (up to its zero byte), recorded
// with the time it came, its item and size, and handed to `onCommand`, which says whether it was
// carried out (a poke that was not is answered DDE_FNOTPROCESSED). It answers on a thread of its
// own, or (Thread::Caller) on the thread that made it whenever that thread handles messages, as
// mIRC's one thread does. With Answer::Never a poke is taken and never answered: the
// callback does not return until the server goes, as in an IRC client that stopped.
// (CBR_BLOCK would not do: Wine answers a blocked poke at once.) One server a thread.
class CommandServer {
  public:
    static constexpr const char* kTopic = "command";
    enum class Thread { Own, Caller };
    enum class Answer { Always, Never };
    struct Arrival {
        std::string text;
        std::optional<std::chrono::steady_clock::time_point> at;
        std::optional<std::string> item; // nothing: the zero item handle (or an execute)
        std::size_t size = 0;            // the bytes that came, zero bytes included
    };

    // Throws std::runtime_error when DDE cannot start or, on Thread::Caller, when the name
    // cannot be registered.
    explicit CommandServer(std::string service = "mirc", Thread thread = Thread::Own,
                           Answer answer = Answer::Always, std::string topic = kTopic);

    // How a busy or stuck IRC client answers: busy (DDE_FBUSY, not taken) to its first
    // `busyFirst` pokes, or refusing every poke, or taking its first `hangFirst` pokes and
    // answering each only after `hangMs` (on Thread::Own only).
    struct Behaviour {
        int busyFirst = 0;
        bool refuse = false;
        int hangFirst = 0;
        DWORD hangMs = 0;
    };
    void SetBehaviour(const Behaviour& behaviour);
    // Closed: its DDE instance ends every conversation with a goodbye.
    ~CommandServer();
    CommandServer(const CommandServer&) = delete;
    CommandServer& operator=(const CommandServer&) = delete;

    // "/ddeserver off" and "on": the name goes, and with it every conversation on it.
    void SwitchOff();
    bool SwitchOn();

    std::vector<std::string> Pokes() const;
    std::size_t Count() const;
    std::vector<Arrival> Arrivals() const;
    void ForgetArrivals();

    // Run inside each command before it is answered, on the server's thread; true: done.
    std::function<bool(const Arrival&)> onCommand;

  private:
    static HDDEDATA CALLBACK Callback(UINT type, UINT format, HCONV, HSZ hsz1, HSZ, HDDEDATA data,
                                      ULONG_PTR, ULONG_PTR);
    void Start();
    void Stop();
    HDDEDATA Command(HDDEDATA data, HSZ item);

    std::string service_, topicName_;
    Answer answer_;
    UniqueKernelObject release_; // set: a poke held by Answer::Never returns
    DdeInstance instance_;       // made and ended on the server's thread, with the names
    DdeString serviceName_, topic_;
    mutable std::mutex mutex_;
    std::vector<Arrival> arrivals_;
    Behaviour behaviour_;
    int pokesSeen_ = 0;
    bool ownThread_ = false;
    std::optional<ServerThread> thread_;
};

} // namespace velkor::kit
