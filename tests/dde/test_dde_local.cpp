// The DDE unit through real DDEML inside the test process: the process's manager serves a
// form "inproc", and a second DDEML instance (or the unit's own client conversation) talks
// to it.
#include "dde/MyDdemanServer.h"
#include "harness/kit/DdeClients.h"
#include "harness/kit/Pump.h"
#include "tests/dde/dde_test_util.h"

#include <gtest/gtest.h>

using namespace velkor;
using namespace velkor::kit;
using namespace std::string_literals;

namespace {

constexpr char kService[] = "test_dde";

TDdeServerItem* NewItem(TComponent* owner, const char* name) {
    auto* item = new TDdeServerItem(owner);
    item->SetName(name);
    return item;
}

// A form "inproc" with NONE, an item "Deep" inside an edit control, a topic component
// "chat" with its own item "Topical", and counters on NONE's events.
class LocalServer : public testing::Test {
  public:
    void SetUp() override {
        form = new TForm(TestApplication(), &TestApplication(), "inproc");
        none = NewItem(form, "NONE");
        box = new TWinControl(form, *form, "EDIT", 0);
        deep = NewItem(box, "Deep");
        chat = new TDdeServerConv(form);
        chat->SetName("chat");
        topical = NewItem(form, "Topical");
        topical->SetServerConv(chat);
        none->OnPokeData = [this](TComponent&) { ++pokes; };
        none->OnChange = [this](TComponent&) { ++changes; };
    }
    void TearDown() override {
        client.Disconnect();
        delete form;
    }

    DdemlClient client;
    TForm* form = nullptr;
    TDdeServerItem* none = nullptr;
    TWinControl* box = nullptr;
    TDdeServerItem* deep = nullptr;
    TDdeServerConv* chat = nullptr;
    TDdeServerItem* topical = nullptr;
    int pokes = 0;
    int changes = 0;
};

} // namespace

TEST_F(LocalServer, FindServerItemIsExactAndDepthFirst) {
    const struct {
        std::string name;
        TDdeServerConv* serverConv;
        TDdeServerItem* LocalServer::*expected;
    } cases[] = {
        {"NONE", nullptr, &LocalServer::none},
        {"none", nullptr, nullptr},
        {"NONE ", nullptr, nullptr},
        {"", nullptr, nullptr},
        {"Deep", nullptr, &LocalServer::deep},
        {"Topical", nullptr, nullptr},
        {"NONE", chat, nullptr},
    };
    for (const auto& c : cases)
        EXPECT_EQ(FindServerItem(form, c.serverConv, c.name),
                  c.expected ? this->*c.expected : nullptr)
            << c.name;
    EXPECT_EQ(FindServerItem(form, chat, "Topical"), topical);
    EXPECT_EQ(FindServerItem(nullptr, nullptr, "NONE"), nullptr);

    // A control listed before a same-named direct item is searched first.
    auto* twin = NewItem(form, "Deep");
    EXPECT_EQ(FindServerItem(form, nullptr, "Deep"), deep);
    delete deep;
    deep = nullptr;
    EXPECT_EQ(FindServerItem(form, nullptr, "Deep"), twin);
}

TEST_F(LocalServer, TopicsMatchTopicComponentsThenCaptionsIgnoringCase) {
    TDdeMgr& manager = *TDdeMgr::Instance();
    for (const char* topic : {"inproc", "INPROC", "InProc"}) {
        const auto owner = manager.MatchTopic(topic);
        EXPECT_EQ(owner.form, form) << topic;
        EXPECT_EQ(owner.serverConv, nullptr) << topic;
    }
    EXPECT_EQ(manager.MatchTopic("CHAT").serverConv, chat);
    // A topic component wins over a window with the same caption.
    auto* shadow = new TForm(TestApplication(), &TestApplication(), "chat");
    EXPECT_EQ(manager.MatchTopic("chat").serverConv, chat);
    delete shadow;
    EXPECT_FALSE(manager.MatchTopic("inproc2"));
    EXPECT_FALSE(manager.MatchTopic(""));
}

TEST_F(LocalServer, ConnectsAcceptServedServiceAndTopic) {
    const struct {
        std::string service, topic;
        bool accepted;
    } cases[] = {
        {kService, "inproc", true}, {"TEST_DDE", "Inproc", true}, {"", "inproc", true},
        {kService, "chat", true},   {kService, "nowhere", false}, {"other", "inproc", false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(bool(client.Connect(c.service, c.topic)), c.accepted)
            << c.service << "|" << c.topic;
    // An initiate without a service or without a topic is a wildcard connect: one for all
    // topics gets no answer, one for a served topic gets one.
    const struct {
        std::string service, topic;
        bool answered;
    } wild[] = {{kService, "", false}, {"", "inproc", true}, {"", "nowhere", false}};
    for (const auto& w : wild) {
        RawDdeClient raw;
        EXPECT_EQ(raw.Initiate(w.service, w.topic), w.answered) << w.service << "|" << w.topic;
    }
}

TEST_F(LocalServer, ConnectRefusedUntilTheWindowExists) {
    EXPECT_FALSE(client.Connect(kService, "later"));
    auto* later = new TForm(TestApplication(), &TestApplication(), "later");
    EXPECT_TRUE(client.Connect(kService, "later"));
    delete later;
    EXPECT_FALSE(client.Connect(kService, "later"));
}

TEST_F(LocalServer, PokesReplaceTheItemsLines) {
    using Lines = std::vector<std::string>;
    const struct {
        std::string topic, item, bytes;
        UINT format;
        bool acknowledged;
        TDdeServerItem* LocalServer::*target;
        Lines lines;
    } cases[] = {
        {"inproc",
         "NONE",
         "#chan nick 0abc\0"s,
         CF_TEXT,
         true,
         &LocalServer::none,
         {"#chan nick 0abc"}},
        {"inproc", "NONE", "one\r\ntwo\0"s, CF_TEXT, true, &LocalServer::none, {"one", "two"}},
        {"inproc", "NONE", "abc\0def\0"s, CF_TEXT, true, &LocalServer::none, {"abc"}},
        {"inproc", "NONE", "no zero byte"s, CF_TEXT, true, &LocalServer::none, {"no zero byte"}},
        {"inproc", "NONE", "\0"s, CF_TEXT, true, &LocalServer::none, {}},
        {"inproc", "NONE", "oem\0"s, CF_OEMTEXT, false, &LocalServer::none, {"keep"}},
        {"inproc", "Nothing", "x\0"s, CF_TEXT, false, &LocalServer::none, {"keep"}},
        {"inproc", "Deep", "deep\0"s, CF_TEXT, true, &LocalServer::deep, {"deep"}},
        {"inproc", "Topical", "t\0"s, CF_TEXT, false, &LocalServer::topical, {"keep"}},
        {"chat", "Topical", "t\0"s, CF_TEXT, true, &LocalServer::topical, {"t"}},
        {"chat", "NONE", "x\0"s, CF_TEXT, false, &LocalServer::none, {"keep"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.topic + "/" + c.item + "/" + c.bytes);
        TDdeServerItem* target = this->*c.target;
        target->SetText("keep");
        pokes = changes = 0;
        ASSERT_TRUE(client.Connect(kService, c.topic));
        const TransactionResult r = client.Poke(c.item, c.bytes, c.format);
        ASSERT_TRUE(r.returned); // DDEML reports even a refused poke as done
        EXPECT_EQ(r.Acked(), c.acknowledged);
        EXPECT_EQ(target->Lines(), c.lines);
        EXPECT_EQ(target->Text(), c.lines.empty() ? "" : c.lines.front());
        if (target == none) {
            EXPECT_EQ(pokes, c.acknowledged ? 1 : 0);
            EXPECT_EQ(changes, c.acknowledged ? 1 : 0);
        }
    }
}

TEST_F(LocalServer, RequestsAnswerLinesWithCrLfAndOneZeroByte) {
    ASSERT_TRUE(client.Connect(kService, "inproc"));
    const struct {
        std::vector<std::string> lines;
        std::string answer;
    } cases[] = {
        {{"hello"}, "hello\r\n\0"s},
        {{"one", "two"}, "one\r\ntwo\r\n\0"s},
        {{}, "\0"s},
    };
    for (const auto& c : cases) {
        none->SetLines(c.lines);
        EXPECT_EQ(client.Request("NONE"), c.answer);
    }
    // "none" is not asked here: in one process the client's "none" handle reads "NONE"
    // while any handle of that spelling lives (atoms, first spelling wins).
    EXPECT_EQ(client.Request("Nothing"), std::nullopt);
}

TEST_F(LocalServer, LinesAreTakenOnlyWhenTheyDiffer) {
    none->SetLines({"a", "b"});
    changes = 0;
    none->SetLines({"a", "b"});
    EXPECT_EQ(changes, 0);
    none->SetLines({"a", "B"});
    EXPECT_EQ(changes, 1);
    none->SetText("a"); // Text always counts as a change
    none->SetText("a");
    EXPECT_EQ(changes, 3);
    EXPECT_EQ(none->Lines(), std::vector<std::string>{"a"});
}

TEST_F(LocalServer, AdviseLinksCarryValueChanges) {
    ASSERT_TRUE(client.Connect(kService, "inproc"));
    ASSERT_TRUE(client.AdviseStart("NONE"));
    EXPECT_FALSE(client.AdviseStart("Nothing"));
    none->SetText("first");
    PumpFor(200);
    ASSERT_EQ(client.AdviseData(), std::vector<std::string>{"first\r\n\0"s});

    // A poke from another conversation is advised too. (Wine's DdeConnect hands one
    // instance the conversation it has already, so the other comes from the manager.)
    TDdeClientConv other(nullptr);
    ASSERT_TRUE(other.LinkTo(kService, "INPROC"));
    ASSERT_TRUE(other.PokeText("NONE", "poked"));
    PumpFor(200);
    EXPECT_EQ(client.AdviseData().back(), "poked\r\n\0"s);

    ASSERT_TRUE(client.AdviseStop("NONE"));
    const size_t count = client.AdviseData().size();
    none->SetText("unseen");
    PumpFor(200);
    EXPECT_EQ(client.AdviseData().size(), count);
}

TEST_F(LocalServer, AdviseReachesALinkBehindAnEarlierConversationWithoutOne) {
    TDdeClientConv plain(nullptr);
    ASSERT_TRUE(plain.LinkTo(kService, "inproc"));
    ASSERT_TRUE(client.Connect(kService, "inproc"));
    ASSERT_EQ(TDdeMgr::Instance()->ServerConvs().size(), 2u);
    ASSERT_TRUE(client.AdviseStart("NONE"));
    none->SetText("news");
    PumpFor(200);
    EXPECT_EQ(client.AdviseData(), std::vector<std::string>{"news\r\n\0"s});
}

TEST_F(LocalServer, ExecuteIsNotProcessed) {
    ASSERT_TRUE(client.Connect(kService, "inproc"));
    EXPECT_FALSE(client.Execute("[do something]").Acked());
}

TEST_F(LocalServer, TopicComponentEventsAndItsDestruction) {
    int opened = 0, closed = 0;
    chat->OnOpen = [&](TComponent&) { ++opened; };
    chat->OnClose = [&](TComponent&) { ++closed; };
    ASSERT_TRUE(client.Connect(kService, "chat"));
    EXPECT_EQ(opened, 1);
    EXPECT_EQ(closed, 0);
    client.Disconnect();
    PumpFor(200);
    EXPECT_EQ(closed, 1);

    ASSERT_TRUE(client.Connect(kService, "chat"));
    delete chat;
    chat = nullptr;
    EXPECT_EQ(topical->ServerConv(), nullptr);
    // The open conversation lost its topic: nothing is found, nothing crashes.
    const TransactionResult r = client.Poke("Topical", "x\0"s);
    ASSERT_TRUE(r.returned);
    EXPECT_FALSE(r.Acked());
}

TEST_F(LocalServer, ConversationOutlivingItsWindowOrItem) {
    ASSERT_TRUE(client.Connect(kService, "inproc"));
    ASSERT_TRUE(client.AdviseStart("Deep"));
    delete deep; // the advise link on it goes with it
    deep = nullptr;
    ASSERT_EQ(TDdeMgr::Instance()->ServerConvs().size(), 1u);
    EXPECT_TRUE(TDdeMgr::Instance()->ServerConvs()[0]->AdviseLinks().empty());

    delete form;
    form = nullptr;
    const TransactionResult r = client.Poke("NONE", "late\0"s);
    ASSERT_TRUE(r.returned);
    EXPECT_FALSE(r.Acked());
    form = new TForm(TestApplication(), &TestApplication(), "spare"); // for TearDown
}

TEST_F(LocalServer, ClientConversationLinksAndPokes) {
    std::vector<std::string> events;
    auto* say = new TDdeClientConv(form);
    // A failed link launches a command line; without one it would be "test_dde nowhere",
    // which starts this very test binary again.
    say->SetServiceApplication(HelperDir() + "dde_launch_counter.exe " + RunDir() + "local.txt");
    say->OnOpen = [&](TComponent&) { events.push_back("open"); };
    say->OnClose = [&](TComponent&) { events.push_back("close"); };

    EXPECT_FALSE(say->PokeText("NONE", "closed")); // no conversation: refused at once
    ASSERT_TRUE(say->LinkTo(kService, "inproc"));
    EXPECT_EQ(say->DdeService(), kService);
    EXPECT_EQ(say->DdeTopic(), "inproc");
    EXPECT_EQ(say->DataFormat(), UINT(CF_TEXT));
    EXPECT_EQ(events, std::vector<std::string>{"open"});

    const struct {
        std::string item, text;
        bool result;
        std::string noneText;
    } pokes[] = {
        {"NONE", "/msg #chan hello", true, "/msg #chan hello"},
        {"NONE", "cut\0here"s, true, "cut"},
        {"Nothing", "refused", false, "cut"},
        {"", "no item handle", false, "cut"},
        {"Deep", "elsewhere", true, "cut"},
    };
    for (const auto& p : pokes) {
        // Pokes go out from the message loop: the answer comes later, reported once.
        EXPECT_EQ(PokeAndWait(*say, p.item, p.text).value_or(false), p.result) << p.item;
        EXPECT_EQ(none->Text(), p.noneText) << p.item;
    }
    EXPECT_FALSE(say->PokeText("", "no item name")) << "nothing queued";

    // Lines typed quickly are queued and go out in order, one poke at a time.
    std::vector<bool> outcomes;
    say->OnPokeDone = [&](TDdeClientConv&, TPokeId, TPokeOutcome outcome) {
        outcomes.push_back(outcome == TPokeOutcome::Delivered);
    };
    std::vector<std::string> seen;
    const TNotifyEvent counting = none->OnPokeData;
    none->OnPokeData = [&](TComponent&) { seen.push_back(none->Text()); };
    for (int i = 0; i < 5; ++i)
        ASSERT_TRUE(say->PokeText("NONE", "queued " + std::to_string(i)));
    ASSERT_TRUE(say->PokeText("Nothing", "refused in the queue"));
    ASSERT_TRUE(say->PokeText("NONE", "last"));
    EXPECT_EQ(say->Pending(), 7u);
    WaitFor([&] { return say->Pending() == 0; }, std::chrono::seconds(10));
    EXPECT_EQ(seen, (std::vector<std::string>{"queued 0", "queued 1", "queued 2", "queued 3",
                                              "queued 4", "last"}));
    EXPECT_EQ(outcomes, (std::vector<bool>{true, true, true, true, true, false, true}));
    // Closing gives up what is still queued, and reports it.
    outcomes.clear();
    ASSERT_TRUE(say->PokeText("NONE", "cut off"));
    ASSERT_TRUE(say->PokeText("NONE", "cut off too"));
    say->CloseConversation();
    EXPECT_EQ(outcomes, (std::vector<bool>{false, false}));
    say->OnPokeDone = nullptr;
    none->OnPokeData = counting;
    ASSERT_TRUE(say->LinkTo(kService, "inproc"));

    // A second link closes the first conversation before it opens the new one.
    ASSERT_TRUE(say->LinkTo("TEST_DDE", "INPROC"));
    EXPECT_EQ(events, (std::vector<std::string>{"open", "close", "open", "close", "open"}));
    EXPECT_FALSE(say->LinkTo(kService, "nowhere") || say->Linked());
    EXPECT_EQ(say->DdeService(), "");
    EXPECT_EQ(say->DdeTopic(), "");
    EXPECT_FALSE(say->PokeText("NONE", "after failure"));

    ASSERT_TRUE(say->LinkTo(kService, "inproc"));
    say->CloseConversation();
    EXPECT_FALSE(say->Linked());
    EXPECT_EQ(say->DdeService(), "");
    EXPECT_FALSE(say->PokeText("NONE", "after close"));
    EXPECT_EQ(events.back(), "close");
}

TEST(DdeError, CarriesItsCodeMessageAndAddress) {
    const struct {
        unsigned code;
        const char* message;
    } cases[] = {
        {0x4007, "Error occurred when DDE ran out of memory ($04007)"},
        {0x400A, "DDE Error - conversation not established ($0400A)"},
        {0x400C, "An error returned from DDE  ($0400C)"},
    };
    for (const auto& c : cases) {
        EDdeError error(c.code);
        EXPECT_STREQ(error.what(), c.message);
        EXPECT_EQ(error.Code(), c.code);
        EXPECT_NE(error.Address(), nullptr);
    }
}
