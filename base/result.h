// What a portable step hands back: success, or the cause in words that the
// caller shows the user as it stands. The step's products go to its out
// parameters, which a failure leaves as they were unless the step says
// otherwise. Portable: no Windows here.
#pragma once

#include <string>
#include <utility>

class [[nodiscard]] Result {
public:
    static Result Success() { return Result(); }
    // `message` says what went wrong; an empty one is still a failure.
    static Result Fail(std::string message) { return Result(std::move(message)); }

    bool Ok() const { return ok; }
    explicit operator bool() const { return ok; }
    const std::string &Message() const { return message; }  // empty on success

private:
    Result() = default;
    explicit Result(std::string text) : ok(false), message(std::move(text)) {}

    bool ok = true;
    std::string message;
};
