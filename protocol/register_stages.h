// The stages of the register calls: where in an attempt a call failed. The
// numbers are the ones the dialog shows ("Read Failed; ERR[12-2]"); the
// texts are what zyrctl says for them. Portable.
#pragma once

enum class RegisterCallKind { readByte, readWord, writeByte, writeWord };

namespace stage {
// A register read: the request, then its reply.
constexpr int readRequest = 1;
constexpr int readReply = 2;
// A word read: the low register's request and reply, then the high one's.
constexpr int lowReadRequest = 1;
constexpr int lowReadReply = 2;
constexpr int highReadRequest = 3;
constexpr int highReadReply = 4;
// A register write: the write request, the read-back's request and reply,
// and the comparison of what came back.
constexpr int writeRequest = 1;
constexpr int readBackRequest = 3;
constexpr int readBackReply = 4;
constexpr int readBackDiffers = 5;
// A word write: the low and high write requests, then the low read-back
// (3 to 5) and the high one.
constexpr int lowWriteRequest = 1;
constexpr int highWriteRequest = 2;
constexpr int lowReadBackRequest = 3;
constexpr int lowReadBackReply = 4;
constexpr int lowReadBackDiffers = 5;
constexpr int highReadBackRequest = 6;
constexpr int highReadBackReply = 7;
constexpr int highReadBackDiffers = 8;
}  // namespace stage

// What a stage of a call of `kind` is, in words ("receiving the reply (the
// converter did not answer)"); "" for a stage the call does not have.
const char *RegisterStageText(RegisterCallKind kind, int stage);
