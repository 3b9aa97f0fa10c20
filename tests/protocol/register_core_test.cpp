// The register protocol's core over a scripted transport: the same calls
// every system's transport serves, checked natively with the sanitizers.
#include "protocol/operation_cut_off.h"
#include "protocol/register_calls.h"
#include "protocol/register_stages.h"

#include <doctest.h>

#include <cstring>
#include <deque>
#include <string>
#include <vector>

namespace {

// The messages of the converter made last, in order.
std::vector<std::string> keptMessages;
void Keep(const char *text) { keptMessages.emplace_back(text); }

// A converter behind a transport: replies queue up as the kernel's or
// Windows' input queue does; its faults are scripted per test.
struct ScriptedConverter : ReportTransport {
    ScriptedConverter()
    {
        keptMessages.clear();
        messages = Keep;
    }

    uint8_t registers[256] = {};
    std::deque<std::vector<uint8_t>> queue;
    std::vector<uint8_t> heldBack;  // a reply that comes only after its attempt gave up on it
    int lateReplies = 0;  // so many replies come late
    bool silent = false;
    bool flipReadBack = false;
    int opensLeft = 100;  // opens that succeed
    int opens = 0;
    bool open = true;

    bool Open() override
    {
        ++opens;
        open = opensLeft-- > 0;
        if (!open && messages)
            messages("USB open failed");
        return open;
    }
    void Close() override { open = false; }
    size_t ReportLength() const override { return 9; }
    bool Send(const uint8_t *report, size_t length) override
    {
        if (!open || length != 9 || report[0] != 0)
            return false;
        Arrive();  // a late reply comes in while the next request goes out
        if (report[1] == 1)
            registers[report[2]] = report[3];
        if (report[1] == 2 && !silent) {
            std::vector<uint8_t> reply(9, 0);
            reply[1] = 2;
            reply[2] = report[2];
            reply[3] = static_cast<uint8_t>(flipReadBack ? ~registers[report[2]] : registers[report[2]]);
            if (lateReplies > 0) {
                --lateReplies;
                heldBack = reply;
            } else {
                queue.push_back(reply);
            }
        }
        return true;
    }
    bool Receive(uint8_t *report, size_t length, unsigned) override
    {
        if (!open || queue.empty())
            return false;
        std::memcpy(report, queue.front().data(), length);
        queue.pop_front();
        return true;
    }
    int DiscardQueued(unsigned) override
    {
        const int count = static_cast<int>(queue.size());
        queue.clear();
        return count;
    }
    void Pause(unsigned ms) override { paused += ms; }
    void Arrive()
    {
        if (!heldBack.empty())
            queue.push_back(heldBack);
        heldBack.clear();
    }
    unsigned paused = 0;
};

}  // namespace

TEST_CASE("register calls over a transport: retries, stages, messages, reopening")
{
    enum Call { readByte, readWord, writeByte, writeWord };
    struct Case {
        const char *name;
        Call call;
        void (*setup)(ScriptedConverter &);
        bool ok;
        int stage;  // of the failure
        bool reopenFailed;
        int opens;  // reopenings between attempts
        const char *message;
    };
    const Case cases[] = {
        {"in step", readWord, [](ScriptedConverter &) {}, true, 0, false, 0, nullptr},
        {"a write, read back", writeByte, [](ScriptedConverter &) {}, true, 0, false, 0, nullptr},
        {"a word write, read back", writeWord, [](ScriptedConverter &) {}, true, 0, false, 0, nullptr},
        {"silent", readByte, [](ScriptedConverter &c) { c.silent = true; }, false, stage::readReply, false, 9,
         "Read Failed; ERR[7-2]"},
        {"silent to a word read", readWord, [](ScriptedConverter &c) { c.silent = true; }, false, stage::lowReadReply,
         false, 9, "Read Failed; ERR[7-2]"},
        // The late reply is taken by the second attempt: the call then reads
        // away what comes until no reply can still come (the second
        // attempt's own one among it) and makes the attempt once more, on a
        // quiet line, with no reopening.
        {"one late reply", readByte, [](ScriptedConverter &c) { c.lateReplies = 1; }, true, 0, false, 1, nullptr},
        {"read-back differs", writeByte, [](ScriptedConverter &c) { c.flipReadBack = true; }, false,
         stage::readBackDiffers, false, 9, "Write Failed; ERR[7-5]"},
        {"high read-back differs", writeWord, [](ScriptedConverter &c) { c.flipReadBack = true; }, false,
         stage::lowReadBackDiffers, false, 9, "Write Failed; ERR[7-5]"},
        {"removed: no reopening", readByte,
         [](ScriptedConverter &c) {
             c.silent = true;
             c.opensLeft = 2;
         },
         false, stage::readReply, true, 3, "USB open failed"},
    };
    for (const Case &c : cases) {
        INFO(c.name);
        ScriptedConverter converter;
        converter.registers[7] = 0x0C;
        converter.registers[8] = 0x30;
        c.setup(converter);
        bool ok = false;
        uint8_t byte = 0;
        uint16_t word = 0;
        switch (c.call) {
        case readByte:
            ok = ReadRegister(converter, 7, byte);
            CHECK(byte == (ok ? 0x0C : 0));  // a value only from the converter's own answer
            break;
        case readWord:
            ok = ReadRegisterWord(converter, 7, word);
            CHECK(word == (ok ? 12300 : 0));
            break;
        case writeByte:
            ok = WriteRegister(converter, 7, 0x5A);
            break;
        case writeWord:
            ok = WriteRegisterWord(converter, 7, 0x1234);
            break;
        }
        CHECK(ok == c.ok);
        CHECK(converter.opens == c.opens);
        if (!c.ok) {
            CHECK(converter.failure.address == 7);
            CHECK(converter.failure.stage == c.stage);
            CHECK(converter.failure.reopenFailed == c.reopenFailed);
        }
        REQUIRE(keptMessages.size() == (c.message ? 1u : 0u));
        if (c.message)
            CHECK(keptMessages[0] == c.message);
    }
}

TEST_CASE("a cut-off ends the retries at once, reported as the last attempt")
{
    ScriptedConverter converter;
    converter.silent = true;
    RequestOperationCutOff();
    uint8_t value = 0;
    CHECK_FALSE(ReadRegister(converter, 200, value));
    ClearOperationCutOff();
    CHECK(converter.opens == 0);
    CHECK(converter.failure.stage == stage::readReply);
    REQUIRE(keptMessages.size() == 1);
    CHECK(keptMessages[0] == "Read Failed; ERR[200-2]");
}

TEST_CASE("every stage of every call has its words, and no other stage has any")
{
    const std::pair<RegisterCallKind, int> kinds[] = {{RegisterCallKind::readByte, 2},
                                                      {RegisterCallKind::readWord, 4},
                                                      {RegisterCallKind::writeByte, 5},
                                                      {RegisterCallKind::writeWord, 8}};
    for (const auto &[kind, last] : kinds)
        for (int stage = 0; stage <= 9; ++stage) {
            const bool has = stage >= 1 && stage <= last && !(kind == RegisterCallKind::writeByte && stage == 2);
            CHECK((std::strlen(RegisterStageText(kind, stage)) > 0) == has);
        }
    CHECK(std::string(RegisterStageText(RegisterCallKind::readByte, stage::readReply)) ==
          "receiving the reply (the converter did not answer)");
}
