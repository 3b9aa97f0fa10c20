#include "protocol/operation_messages.h"

#include "app/main_window.h"

#include <cstdarg>
#include <cstdio>

namespace {
// Set once before any operation starts; read by whichever thread runs one.
OperationMessageSink installedSink = nullptr;
}  // namespace

void SetOperationMessageSink(OperationMessageSink sink) { installedSink = sink; }

void OperationMessage(const char *format, ...)
{
    char text[260] = {};
    va_list arguments;
    va_start(arguments, format);
    std::vsnprintf(text, sizeof text, format, arguments);
    va_end(arguments);
    if (installedSink)
        installedSink(text);
    else
        StatusLine("%s", text);
}
