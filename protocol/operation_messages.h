// Where the register protocol's own messages go ("USB open read failed",
// "Read Failed; ERR[a-s]"...). The dialog shows them on its status line,
// which is where they go unless a program installs a sink of its own; the
// console program keeps them for its error reports instead.
#pragma once

using OperationMessageSink = void (*)(const char *text);

// Null restores the status line.
void SetOperationMessageSink(OperationMessageSink sink);

// printf-style, at most 259 characters, like the status line.
void OperationMessage(const char *format, ...) __attribute__((format(printf, 1, 2)));
