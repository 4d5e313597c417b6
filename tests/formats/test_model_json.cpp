// The model snapshot: exact text of every record, key order, nulls, and concurrent writers.
#include <gtest/gtest.h>

#include <limits>
#include <string>
#include <thread>
#include <vector>

#include "tessel_client/formats/model_json.hpp"

namespace tessel {
namespace {

MessageDraft message(std::uint64_t time_ms, std::uint64_t seq, MessageKind kind) {
    MessageDraft m;
    m.key = MessageKey{time_ms, seq};
    m.sender = "Bob";
    m.kind = std::move(kind);
    m.text = "hi";
    return m;
}

TEST(ModelJson, FreshModel) {
    const Model model = Model::make("me", 5000);
    EXPECT_EQ(model_to_json(model),
              R"({"me":{"nick":"me","account":null,"modes":"","metadata":{},"away":null},"channels":{},)"
              R"("conversations":{},"people":{},"whois":{},"retention":5000,"next_seq":0})");
}

TEST(ModelJson, EveryRecordWritesEveryMemberInOrder) {
    Model model = Model::make("Me", 10);
    model.next_seq = 7;
    model.me.account = "acct";
    model.me.modes = "iw";
    model.me.metadata = {{"b", "2"}, {"a", "1"}};
    model.me.away = "gone";

    Channel& chan = model.channel_entry("#chan", "#Chan");
    chan.topic = "t";
    chan.modes = {{U'n', std::nullopt}, {U'k', "key"}};
    model.member_entry("#chan", chan, "bob").prefixes = "@";
    model.member_entry("#chan", chan, "al");
    chan.log = MessageLog(3);
    MessageDraft first = message(5, 2, MessageKind{MessageKind::Privmsg{}});
    first.msgid = "m2";
    first.account = "bob";
    first.reply_to = "m0";
    first.reactions = {{"\xF0\x9F\x91\x8D", {"bob", "al"}}, {"+1", {"al"}}};
    first.link_preview = LinkPreview{"Title", std::nullopt, "https://i"};
    first.redacted = true;
    MessageDraft second = message(5, 1, MessageKind{MessageKind::Ctcp{"VERSION"}});
    second.msgid = "m1";
    second.historical = true;
    second.own = true;
    chan.log.insert(first);
    chan.log.insert(second);
    chan.log.insert(message(9, 3, MessageKind{MessageKind::Kick{"al"}}));
    chan.unread = std::numeric_limits<std::uint32_t>::max();
    chan.mentions = 2;
    chan.metadata = {{"url", "u"}};
    chan.read_marker = "2024";
    chan.typing = {"zed", "al"};
    chan.named_modes = {{"secret", std::nullopt}, {"limit", "5"}};

    Conversation& conv = model.conversation_entry("bob", "Bob");
    conv.log = MessageLog(2);
    conv.log.insert(message(1, 0, MessageKind{MessageKind::Nick{"Bobby"}}));
    conv.unread = 1;

    Person& p = model.person_entry("bob", "Bob");
    p.account = "bob";
    p.bot = true;
    p.username = "u";
    p.host = "h";
    p.operator_ = true;
    p.metadata = {{"k", "v"}};

    WhoisRecord& w = model.whois_entry("bob", "Bob");
    w.username = "u";
    w.operator_ = "is an operator";
    w.signon_ms = 1000;
    w.channels = {"@#b", "#a"};
    w.secure = true;

    const std::string expected =
        R"({"me":{"nick":"Me","account":"acct","modes":"iw","metadata":{"a":"1","b":"2"},"away":"gone"},)"
        R"("channels":{"#chan":{"name":"#Chan","topic":"t","topic_by":null,"modes":{"k":"key","n":null},)"
        R"("members":{"al":{"prefixes":""},"bob":{"prefixes":"@"}},"log":{"messages":[)"
        R"({"key":{"time_ms":5,"seq":1},"msgid":"m1","sender":"Bob","kind":{"type":"ctcp","command":"VERSION"},)"
        R"("text":"hi","account":null,"historical":true,"own":true,"reply_to":null,"reactions":{},)"
        R"("link_preview":null,"redacted":false},)"
        R"({"key":{"time_ms":5,"seq":2},"msgid":"m2","sender":"Bob","kind":{"type":"privmsg"},"text":"hi",)"
        R"("account":"bob","historical":false,"own":false,"reply_to":"m0",)"
        "\"reactions\":{\"+1\":[\"al\"],\"\xF0\x9F\x91\x8D\":[\"bob\",\"al\"]},"
        R"("link_preview":{"title":"Title","snippet":null,"image":"https://i"},"redacted":true},)"
        R"({"key":{"time_ms":9,"seq":3},"msgid":null,"sender":"Bob","kind":{"type":"kick","target":"al"},)"
        R"("text":"hi","account":null,"historical":false,"own":false,"reply_to":null,"reactions":{},)"
        R"("link_preview":null,"redacted":false}],)"
        R"("by_msgid":{"m1":{"time_ms":5,"seq":1},"m2":{"time_ms":5,"seq":2}},"retention":3},)"
        R"("unread":4294967295,"mentions":2,"metadata":{"url":"u"},"read_marker":"2024","typing":["al","zed"],)"
        R"("named_modes":{"limit":"5","secret":null}}},)"
        R"("conversations":{"bob":{"nick":"Bob","log":{"messages":[{"key":{"time_ms":1,"seq":0},"msgid":null,)"
        R"("sender":"Bob","kind":{"type":"nick","new_nick":"Bobby"},"text":"hi","account":null,"historical":false,)"
        R"("own":false,"reply_to":null,"reactions":{},"link_preview":null,"redacted":false}],"by_msgid":{},)"
        R"("retention":2},"unread":1,"read_marker":null,"typing":[]}},)"
        R"("people":{"bob":{"nick":"Bob","account":"bob","away":null,"bot":true,"username":"u","host":"h",)"
        R"("realname":null,"operator":true,"metadata":{"k":"v"}}},)"
        R"("whois":{"bob":{"nick":"Bob","username":"u","host":null,"realname":null,"server":null,)"
        R"("server_info":null,"operator":"is an operator","idle_secs":null,"signon_ms":1000,)"
        R"("channels":["@#b","#a"],"account":null,"actual_host":null,"secure":true,"complete":false}},)"
        R"("retention":10,"next_seq":7})";
    EXPECT_EQ(model_to_json(model), expected);
}

TEST(ModelJson, KeysAreWrittenInByteOrderAndEveryKindHasItsWord) {
    Model model = Model::make("me", 100);
    for (const char* key : {"#b", "#ab", "#a", "#\xC3\xA9", "#B"}) model.channel_entry(key, key);
    std::string json = model_to_json(model);
    const auto at = [&](const char* key) { return json.find(std::string("\"") + key + "\":{\"name\""); };
    EXPECT_LT(at("#B"), at("#a"));
    EXPECT_LT(at("#a"), at("#ab"));
    EXPECT_LT(at("#ab"), at("#b"));
    EXPECT_LT(at("#b"), at("#\xC3\xA9"));

    const struct {
        MessageKind kind;
        const char* json;
    } kinds[] = {
        {{MessageKind::Privmsg{}}, R"({"type":"privmsg"})"},
        {{MessageKind::Notice{}}, R"({"type":"notice"})"},
        {{MessageKind::Ctcp{"PING"}}, R"({"type":"ctcp","command":"PING"})"},
        {{MessageKind::Tagmsg{}}, R"({"type":"tagmsg"})"},
        {{MessageKind::Join{}}, R"({"type":"join"})"},
        {{MessageKind::Part{}}, R"({"type":"part"})"},
        {{MessageKind::Quit{}}, R"({"type":"quit"})"},
        {{MessageKind::Kick{"x"}}, R"({"type":"kick","target":"x"})"},
        {{MessageKind::Nick{"y"}}, R"({"type":"nick","new_nick":"y"})"},
        {{MessageKind::Topic{}}, R"({"type":"topic"})"},
        {{MessageKind::Mode{}}, R"({"type":"mode"})"},
    };
    for (const auto& k : kinds) {
        MessageLog log(1);
        log.insert(message(1, 0, k.kind));
        std::string out;
        message_log_to_json(log, out);
        EXPECT_NE(out.find(std::string("\"kind\":") + k.json + ","), std::string::npos) << out;
    }
}

TEST(ModelJson, MsgidIndexIsWrittenInByteOrderOfMsgid) {
    // Arrival order, key order and msgid order all differ; a trimmed msgid is not listed.
    MessageLog log(4);
    const char* ids[] = {"gone", "b", "\xC3\xA9", "B", "ab"};
    for (std::uint64_t i = 0; i < 5; ++i) {
        MessageDraft m = message(i == 0 ? 1 : 10 - i, i, MessageKind{});
        m.text = ids[i];
        m.msgid = ids[i];
        log.insert(std::move(m));
    }
    std::string out;
    message_log_to_json(log, out);
    const std::size_t at = out.find("\"by_msgid\":");
    ASSERT_NE(at, std::string::npos);
    EXPECT_EQ(out.substr(at),
              R"("by_msgid":{"B":{"time_ms":7,"seq":3},"ab":{"time_ms":6,"seq":4},"b":{"time_ms":9,"seq":1},)"
              "\"\xC3\xA9\":{\"time_ms\":8,\"seq\":2}},\"retention\":4}");
}

TEST(ModelJson, TwoThreadsWriteOneModelAtOnce) {
    Model model = Model::make("me", 200);
    for (int c = 0; c < 20; ++c) {
        const std::string key = "#c" + std::to_string(c);
        Channel& chan = model.channel_entry(key, key);
        chan.log = MessageLog(200);
        for (int i = 0; i < 200; ++i) {
            MessageDraft m = message(static_cast<std::uint64_t>(i), static_cast<std::uint64_t>(c * 1000 + i),
                                   MessageKind{MessageKind::Privmsg{}});
            m.msgid = key + "-" + std::to_string(i);
            chan.log.insert(std::move(m));
        }
        model.member_entry(key, chan, "n" + std::to_string(c));
    }
    const Model& shared = model;
    const std::string reference = model_to_json(shared);
    std::string results[2];
    std::vector<std::thread> threads;
    for (auto& result : results) {
        threads.emplace_back([&shared, &result] {
            for (int round = 0; round < 10; ++round) result = model_to_json(shared);
        });
    }
    for (auto& t : threads) t.join();
    EXPECT_EQ(results[0], reference);
    EXPECT_EQ(results[1], reference);
}

}  // namespace
}  // namespace tessel
