// The core's entry points for the page (page/page.js calls them through
// ccall). Each returns text the page shows or JSON it reads; the returned
// pointer stays valid until the next call. The three device operations are
// asynchronous for the page: ccall with {async: true} gives a promise.
#include "config/converter_choices.h"
#include "protocol/converter_identity.h"
#include "web/page_operations.h"
#include "web/page_session.h"
#include "zyr_version.h"

#include <emscripten.h>

#include <string>

namespace {

std::string returned;

const char *Give(const std::string &text)
{
    returned = text;
    return returned.c_str();
}

// Invalid UTF-8 from a user's file is shown replaced, never thrown over.
const char *GiveJson(const nlohmann::json &value)
{
    return Give(value.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace));
}

const char *Problem(const Result &result) { return Give(result ? std::string() : result.Message()); }

const char *Outcome(const OperationOutcome &outcome)
{
    return GiveJson(nlohmann::json{{"ok", outcome.ok}, {"status", outcome.status}});
}

}  // namespace

extern "C" {

EMSCRIPTEN_KEEPALIVE const char *zyr_version() { return Give(ZYR_VERSION_STRING); }

// What the page asks the browser for and checks a device against.
EMSCRIPTEN_KEEPALIVE const char *zyr_identity()
{
    return GiveJson(nlohmann::json{{"vendorId", converterVendorId},
                                   {"productId", converterProductId},
                                   {"usagePage", converterUsagePage},
                                   {"payloadBytes", converterReportPayload}});
}

EMSCRIPTEN_KEEPALIVE const char *zyr_view() { return GiveJson(SessionView()); }

EMSCRIPTEN_KEEPALIVE const char *zyr_set_speed(const char *text) { return Problem(SetSpeedText(text)); }

EMSCRIPTEN_KEEPALIVE const char *zyr_set_sensor(int code) { return Problem(SetSensor(static_cast<uint16_t>(code))); }

EMSCRIPTEN_KEEPALIVE const char *zyr_set_table(int offset)
{
    return Problem(SetActiveTable(static_cast<uint8_t>(offset)));
}

EMSCRIPTEN_KEEPALIVE const char *zyr_table_text(int offset)
{
    std::string text;
    const Result built = TableText(static_cast<uint8_t>(offset), text);
    if (!built)
        return GiveJson(nlohmann::json{{"ok", false}, {"message", built.Message()}});
    return GiveJson(
        nlohmann::json{{"ok", true}, {"text", text}, {"caption", TableCaption(static_cast<uint8_t>(offset))}});
}

EMSCRIPTEN_KEEPALIVE const char *zyr_store_table(int offset, const char *text)
{
    return Problem(StoreTableText(static_cast<uint8_t>(offset), text));
}

EMSCRIPTEN_KEEPALIVE const char *zyr_factory_defaults() { return Problem(LoadFactoryDefaults()); }

EMSCRIPTEN_KEEPALIVE const char *zyr_backup(double nowUnixSeconds)
{
    std::string text, name;
    const Result made = BackupText(static_cast<int64_t>(nowUnixSeconds), text, name);
    if (!made)
        return GiveJson(nlohmann::json{{"ok", false}, {"message", made.Message()}});
    return GiveJson(nlohmann::json{{"ok", true}, {"text", text}, {"name", name}});
}

EMSCRIPTEN_KEEPALIVE const char *zyr_restore(const char *text) { return Problem(RestoreText(text)); }

// F1, counted as the dialog counts it.
EMSCRIPTEN_KEEPALIVE const char *zyr_help_pressed()
{
    ++session.helpPressCount;
    return Give("");
}

// "format" when the presses open the factory format (the count is reset),
// else "read".
EMSCRIPTEN_KEEPALIVE const char *zyr_read_pressed()
{
    if (session.helpPressCount != 11)
        return Give("read");
    session.helpPressCount = 0;
    return Give("format");
}

EMSCRIPTEN_KEEPALIVE const char *zyr_read() { return Outcome(ReadOperation()); }

EMSCRIPTEN_KEEPALIVE const char *zyr_write(int all) { return Outcome(WriteOperation(all != 0)); }

EMSCRIPTEN_KEEPALIVE const char *zyr_format(int hasEct, int blackConnector)
{
    return Outcome(FormatOperation(hasEct != 0, blackConnector != 0));
}
}
