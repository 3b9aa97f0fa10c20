// A base for objects that own a handle, a window, a thread or a place in a
// shared table: a copy would give it back twice, so none can be made.
#pragma once

class NoCopy {
protected:
    NoCopy() = default;
    ~NoCopy() = default;

public:
    NoCopy(const NoCopy &) = delete;
    NoCopy &operator=(const NoCopy &) = delete;
};
