// The IRC session: registration, PING, channel tracking and which lines become remote events.
#include "harness/ircpeer/IrcSession.h"

#include "harness/ircpeer/IrcMessage.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace ircpeer {
namespace {

using Lines = std::vector<std::string>;

IrcSession Registered(SessionConfig config = {"peer", "ircpeer", "ircpeer", {"#velkor"}, "", ""}) {
    IrcSession session(std::move(config));
    session.OnLine(":irc.test 001 peer :Welcome");
    session.OnLine(":peer!~ircpeer@127.0.0.1 JOIN :#velkor");
    return session;
}

TEST(IrcSession, RegistersThenOpersAndJoins) {
    IrcSession session({"peer", "ircpeer", "ircpeer", {"#velkor", "#b"}, "tester", "secret"});
    EXPECT_EQ(session.Start(), (Lines{"NICK peer", "USER ircpeer 0 * :ircpeer"}));
    EXPECT_FALSE(session.Registered());
    Reaction welcome = session.OnLine(":irc.test 001 peer :Welcome to the net");
    EXPECT_TRUE(session.Registered());
    EXPECT_EQ(welcome.send, (Lines{"OPER tester secret", "JOIN #velkor", "JOIN #b"}));
    EXPECT_EQ(session.OnLine(":irc.test 381 peer :You are now an IRC Operator").send,
              Lines{"MODE peer +F"});
}

TEST(IrcSession, TakenNickDuringRegistrationGetsASuffix) {
    IrcSession session({"peer", "u", "r", {}, "", ""});
    EXPECT_EQ(session.OnLine(":irc.test 433 * peer :Nickname already in use").send,
              Lines{"NICK peer_"});
    session.OnLine(":irc.test 001 peer_ :Welcome");
    EXPECT_EQ(session.Nick(), "peer_");
    // After registration a refused /nick leaves the nick alone.
    EXPECT_TRUE(session.OnLine(":irc.test 433 peer_ bob :Nickname already in use").send.empty());
    EXPECT_EQ(session.Nick(), "peer_");
}

TEST(IrcSession, NickRetryEndsAfterTenTries) {
    struct Case {
        std::string nick;
        Lines tried;
    };
    const std::string longNick(30, 'n'); // at the server's length limit, "_" is refused
    const std::vector<Case> cases = {
        {"peer",
         {"peer_", "peer2", "peer3", "peer4", "peer5", "peer6", "peer7", "peer8", "peer9",
          "peer10"}},
        {longNick,
         {"nnnnnnn1", "nnnnnnn2", "nnnnnnn3", "nnnnnnn4", "nnnnnnn5", "nnnnnnn6", "nnnnnnn7",
          "nnnnnnn8", "nnnnnnn9", "nnnnnnn10"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.nick);
        IrcSession session({c.nick, "u", "r", {}, "", ""});
        Lines sent;
        Reaction last;
        for (int i = 0; i < 20 && !last.giveUp; ++i) {
            last = session.OnLine(i % 2 ? ":irc.test 432 * x :Erroneous nickname"
                                        : ":irc.test 433 * x :Nickname already in use");
            for (const std::string& line : last.send)
                sent.push_back(line);
        }
        EXPECT_TRUE(last.giveUp);
        EXPECT_TRUE(last.send.empty());
        Lines want;
        for (const std::string& nick : c.tried)
            want.push_back("NICK " + nick);
        EXPECT_EQ(sent, want);
        for (const std::string& line : sent)
            EXPECT_LE(line.size(), 14u) << line;
    }
}

TEST(IrcSession, AnswersPing) {
    IrcSession session({"peer", "u", "r", {}, "", ""});
    EXPECT_EQ(session.OnLine("PING :irc.test").send, Lines{"PONG :irc.test"});
    EXPECT_EQ(session.OnLine("PING 12345").send, Lines{"PONG :12345"});
    // A token too long to echo whole still gets an answer that fits a line.
    const std::string token(700, 't');
    const Lines pong = session.OnLine("PING :" + token).send;
    ASSERT_EQ(pong.size(), 1u);
    EXPECT_EQ(pong[0].size(), kMaxLineBody);
    EXPECT_EQ(pong[0].rfind("PONG :ttt", 0), 0u);
}

struct EventCase {
    std::string line;
    Lines events;
};

TEST(IrcSession, ChannelTextOfOthersBecomesRemoteEvent) {
    const std::vector<EventCase> cases = {
        {":alice!~a@h PRIVMSG #velkor :0AbCd", {"#velkor alice 0AbCd"}},
        {":alice!~a@h PRIVMSG #VELKOR :mixed case", {"#VELKOR alice mixed case"}},
        {":alice!~a@h PRIVMSG #velkor :  spaced  text ", {"#velkor alice   spaced  text "}},
        {":alice!~a@h PRIVMSG #velkor :", {"#velkor alice "}},
        {":peer!~p@h PRIVMSG #velkor :own echo", {}},
        {":PEER!~p@h PRIVMSG #velkor :own echo", {}},
        {":alice!~a@h PRIVMSG #elsewhere :not joined", {}},
        {":alice!~a@h PRIVMSG peer :private", {}},
        {":alice!~a@h NOTICE #velkor :notice", {}},
        {":alice!~a@h PRIVMSG #velkor :\x01"
         "ACTION waves\x01",
         {}},
    };
    IrcSession session = Registered();
    for (const EventCase& c : cases) {
        SCOPED_TRACE(c.line);
        EXPECT_EQ(session.OnLine(c.line).events, c.events);
    }
}

TEST(IrcSession, TracksJoinedChannelsAndCurrentChannel) {
    IrcSession session = Registered();
    EXPECT_EQ(session.CurrentChannel(), "#velkor");
    session.OnLine(":peer!~p@h JOIN #other");
    EXPECT_EQ(session.CurrentChannel(), "#other");
    EXPECT_EQ(session.OnPoke("hi").lines, Lines{"PRIVMSG #other :hi"});
    // Someone else joining changes nothing.
    session.OnLine(":alice!~a@h JOIN #third");
    EXPECT_EQ(session.CurrentChannel(), "#other");
    EXPECT_EQ(session.OnLine(":alice!~a@h PRIVMSG #other :x").events, Lines{"#other alice x"});
    session.OnLine(":peer!~p@h PART #other :bye");
    EXPECT_EQ(session.CurrentChannel(), "#velkor");
    EXPECT_TRUE(session.OnLine(":alice!~a@h PRIVMSG #other :gone").events.empty());
    session.OnLine(":op!~o@h KICK #velkor peer :out");
    EXPECT_EQ(session.CurrentChannel(), "");
    EXPECT_EQ(session.OnPoke("hi").errors.size(), 1u);
}

TEST(IrcSession, FollowsOwnNickChange) {
    IrcSession session = Registered();
    session.OnLine(":peer!~p@h NICK :peer2");
    EXPECT_EQ(session.Nick(), "peer2");
    EXPECT_TRUE(session.OnLine(":peer2!~p@h PRIVMSG #velkor :mine").events.empty());
    EXPECT_EQ(session.OnLine(":peer!~x@h PRIVMSG #velkor :old nick is someone else").events.size(),
              1u);
}

TEST(IrcSession, RemoteEventTextFormat) {
    EXPECT_EQ(RemoteEventText("#velkor", "alice", "2xyz"), "#velkor alice 2xyz");
    EXPECT_EQ(RemoteEventText("#c", "n", ""), "#c n ");
}

} // namespace
} // namespace ircpeer
