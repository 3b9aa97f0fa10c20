// ZYR_SIM_FAULT: the simulator's switchable faults written as text, for the
// demo programs. Portable: no Windows here.
//
//     RULE[;RULE...]
//     RULE = KIND[,at=ADDRESS][,on=read|write][,after=N][,times=N][,delay=MS]
//
//     KIND       send-fails     the request's WriteFile fails
//                send-zero      the request's WriteFile moves 0 bytes
//                receive-fails  the reply's ReadFile fails
//                receive-zero   the reply's ReadFile moves 0 bytes
//                wrong-readback the reply to a read request carries another value
//                no-reply       the converter ignores read requests (silent)
//                late-reply     the reply to a read request comes `delay` ms late
//                unplug         the converter is removed when the request is sent
//     at=A       only requests for register A (0 to 255); default any
//     on=        only read or only write requests; default both. Write
//                requests get no reply, so on=write is refused for the
//                kinds that act on a reply (all but send-*, unplug)
//     after=N    let N matching requests pass first; default 0
//     times=N    fire N times, then never again; default for ever
//     delay=MS   late-reply only: how late the reply comes (0 to 60000);
//                default 1000
//
// For example "unplug,on=write,after=40" unplugs the converter at its 41st
// write request, "no-reply" makes it silent, and "wrong-readback,at=200"
// makes every read of register 200 come back wrong.
#pragma once

#include "base/result.h"

#include <string>
#include <vector>

namespace sim {

// In the order of FaultRule::Kind.
enum class DemoFaultKind { SendFails, SendZero, ReceiveFails, ReceiveZero, WrongReadBack, NoReply, LateReply, Unplug };

struct DemoFault {
    DemoFaultKind kind = DemoFaultKind::SendFails;
    int command = 0;  // 1 write requests, 2 read requests, 0 both
    int address = -1;  // -1 any
    int skip = 0;
    int times = -1;
    int replyAfterMs = 1000;  // late-reply only
};

// Refused with a message naming the faulty part (and `rules` unchanged) on
// anything but the syntax above. An empty text gives no rules.
Result ParseDemoFaults(const std::string &text, std::vector<DemoFault> &rules);

// ZYR_SIM_STATE: the simulated converter's 256 registers as 16 lines of
// 16 hex bytes, each led by its offset ("00: FF 0C 30 ..."), after a comment.
std::string FormatSimState(const unsigned char (&registers)[256]);
Result ParseSimState(const std::string &text, unsigned char (&registers)[256]);

}  // namespace sim
