// The bus's fault rules: each stage of a register exchange can be failed,
// selected by command and address, after `skip` matches, `times` times.
#include "tests/device/device_test_support.h"
#include "tests/support/sim_fixture.h"

#include "device/device_syscalls.h"

namespace {

sim::FaultRule Rule(sim::FaultRule::Kind kind, int command, int address, int skip = 0, int times = -1)
{
    sim::FaultRule rule;
    rule.kind = kind;
    rule.command = command;
    rule.address = address;
    rule.skip = skip;
    rule.times = times;
    return rule;
}

}  // namespace

TEST_CASE_FIXTURE(SimFixture, "Send faults")
{
    sim::SimDevice &converter = bus.AddConverter();
    HANDLE out = OpenDevice(converter, GENERIC_WRITE);
    DWORD written = 0;
    SUBCASE("SendFails: WriteFile fails and nothing reaches the firmware") {
        converter.AddFault(Rule(sim::FaultRule::SendFails, 1, 30));
        CHECK_FALSE(Sys().WriteFile(out, WriteRequest(30, 7).data(), 9, &written, nullptr));
        CHECK(GetLastError() == ERROR_GEN_FAILURE);
        CHECK(converter.WritesTo(30) == 0);
        CHECK(bus.Traffic().empty());
        // Another address, or a read request of the same one, passes.
        CHECK(Send(out, WriteRequest(31, 7)));
        CHECK(Send(out, ReadRequest(30)));
    }
    SUBCASE("SendZero: success with no bytes, nothing reaches the firmware") {
        converter.AddFault(Rule(sim::FaultRule::SendZero, 0, -1));
        CHECK(Sys().WriteFile(out, WriteRequest(30, 7).data(), 9, &written, nullptr));
        CHECK(written == 0);
        CHECK(converter.WritesTo(30) == 0);
    }
    SUBCASE("skip and times pick the occurrences") {
        converter.AddFault(Rule(sim::FaultRule::SendFails, 2, -1, 1, 2));
        CHECK(Send(out, ReadRequest(1)));        // skipped
        CHECK_FALSE(Send(out, ReadRequest(2)));  // fires
        CHECK(Send(out, WriteRequest(2, 2)));    // another command: not counted
        CHECK_FALSE(Send(out, ReadRequest(3)));  // fires
        CHECK(Send(out, ReadRequest(4)));        // spent
        converter.ClearFaults();
    }
    SUBCASE("ClearFaults ends them") {
        converter.AddFault(Rule(sim::FaultRule::SendFails, 0, -1));
        CHECK_FALSE(Send(out, ReadRequest(1)));
        converter.ClearFaults();
        CHECK(Send(out, ReadRequest(1)));
    }
    Sys().CloseHandle(out);
}

TEST_CASE_FIXTURE(SimFixture, "Faults of the reply to a read request")
{
    sim::SimDevice &converter = bus.AddConverter();
    converter.SetRegister(50, 0x5A);
    HANDLE in = OpenDevice(converter, GENERIC_READ, FILE_FLAG_OVERLAPPED);
    HANDLE out = OpenDevice(converter, GENERIC_WRITE);
    OwnEvent event;
    OVERLAPPED o = {};
    o.hEvent = event.handle;
    uint8_t reply[9] = {};
    DWORD count = 0;

    SUBCASE("WrongReadBack: the reply carries another value") {
        converter.AddFault(Rule(sim::FaultRule::WrongReadBack, 2, 50, 0, 1));
        REQUIRE(Send(out, ReadRequest(50)));
        Sys().ReadFile(in, reply, 9, &count, &o);
        CHECK(Sys().GetOverlappedResult(in, &o, &count, TRUE));
        CHECK(reply[3] != 0x5A);
        REQUIRE(Send(out, ReadRequest(50)));  // once only
        Sys().ReadFile(in, reply, 9, &count, &o);
        CHECK(Sys().GetOverlappedResult(in, &o, &count, TRUE));
        CHECK(reply[3] == 0x5A);
    }
    SUBCASE("a write request does not use up a read-back rule") {
        converter.AddFault(Rule(sim::FaultRule::WrongReadBack, 0, 50, 0, 1));
        REQUIRE(Send(out, WriteRequest(50, 0x5A)));
        REQUIRE(Send(out, ReadRequest(50)));
        Sys().ReadFile(in, reply, 9, &count, &o);
        CHECK(Sys().GetOverlappedResult(in, &o, &count, TRUE));
        CHECK(reply[3] != 0x5A);
    }
    SUBCASE("NoReply: the read stays pending, the wait expires in virtual time") {
        converter.AddFault(Rule(sim::FaultRule::NoReply, 2, 50));
        REQUIRE(Send(out, ReadRequest(50)));
        CHECK(converter.ReadsOf(50) == 1);
        CHECK_FALSE(Sys().ReadFile(in, reply, 9, &count, &o));
        CHECK(GetLastError() == ERROR_IO_PENDING);
        const uint64_t before = bus.NowMs();
        CHECK(Sys().WaitForSingleObject(event.handle, 500) == WAIT_TIMEOUT);
        CHECK(bus.NowMs() == before + 500);
        CHECK(Sys().CancelIoEx(in, &o));
        CHECK_FALSE(Sys().GetOverlappedResult(in, &o, &count, TRUE));
        CHECK(GetLastError() == ERROR_OPERATION_ABORTED);
    }
    SUBCASE("ReceiveFails, on a report already queued") {
        converter.AddFault(Rule(sim::FaultRule::ReceiveFails, 2, 50));
        REQUIRE(Send(out, ReadRequest(50)));
        CHECK_FALSE(Sys().ReadFile(in, reply, 9, &count, &o));
        CHECK(GetLastError() == ERROR_GEN_FAILURE);
    }
    SUBCASE("ReceiveFails, on a read waiting for the report") {
        converter.AddFault(Rule(sim::FaultRule::ReceiveFails, 2, 50));
        CHECK_FALSE(Sys().ReadFile(in, reply, 9, &count, &o));
        CHECK(GetLastError() == ERROR_IO_PENDING);
        REQUIRE(Send(out, ReadRequest(50)));
        CHECK_FALSE(Sys().GetOverlappedResult(in, &o, &count, TRUE));
        CHECK(GetLastError() == ERROR_GEN_FAILURE);
    }
    SUBCASE("ReceiveZero: success with no bytes") {
        converter.AddFault(Rule(sim::FaultRule::ReceiveZero, 2, 50));
        REQUIRE(Send(out, ReadRequest(50)));
        Sys().ReadFile(in, reply, 9, &count, &o);
        CHECK(Sys().GetOverlappedResult(in, &o, &count, TRUE));
        CHECK(count == 0);
    }
    SUBCASE("receive rules select by the address read") {
        converter.AddFault(Rule(sim::FaultRule::ReceiveFails, 2, 51));
        REQUIRE(Send(out, ReadRequest(50)));
        Sys().ReadFile(in, reply, 9, &count, &o);
        CHECK(Sys().GetOverlappedResult(in, &o, &count, TRUE));
        CHECK(reply[3] == 0x5A);
    }
    SUBCASE("a pushed report matches only rules for any command and address") {
        converter.AddFault(Rule(sim::FaultRule::ReceiveFails, 2, -1));
        converter.PushInputReport(sim::Report{0, 1});
        Sys().ReadFile(in, reply, 9, &count, &o);
        CHECK(Sys().GetOverlappedResult(in, &o, &count, TRUE));
        converter.AddFault(Rule(sim::FaultRule::ReceiveFails, 0, -1));
        converter.PushInputReport(sim::Report{0, 1});
        Sys().ReadFile(in, reply, 9, &count, &o);
        CHECK_FALSE(Sys().GetOverlappedResult(in, &o, &count, TRUE));
    }
    Sys().CloseHandle(in);
    Sys().CloseHandle(out);
}

TEST_CASE_FIXTURE(SimFixture, "Unplug on a request, and the return after virtual time")
{
    sim::SimDevice &converter = bus.AddConverter();
    HANDLE out = OpenDevice(converter, GENERIC_WRITE);
    sim::FaultRule rule = Rule(sim::FaultRule::Unplug, 2, 9, 0, 1);
    SUBCASE("for good") {
        converter.AddFault(rule);
        CHECK_FALSE(Send(out, ReadRequest(9)));
        CHECK(GetLastError() == ERROR_DEVICE_NOT_CONNECTED);
        CHECK_FALSE(converter.present);
        Sys().Sleep(100000);
        CHECK_FALSE(converter.present);
        CHECK(OpenDevice(converter, 0) == INVALID_HANDLE_VALUE);
    }
    SUBCASE("back after 250 ms") {
        rule.replugAfterMs = 250;
        converter.AddFault(rule);
        CHECK_FALSE(Send(out, ReadRequest(9)));
        CHECK(converter.ReadsOf(9) == 0);
        Sys().Sleep(100);
        CHECK_FALSE(converter.present);
        Sys().Sleep(150);
        CHECK(converter.present);
        CHECK_FALSE(Send(out, ReadRequest(9)));  // the old handle stays dead
        HANDLE fresh = OpenDevice(converter, GENERIC_WRITE);
        CHECK(Send(fresh, ReadRequest(9)));
        Sys().CloseHandle(fresh);
    }
    Sys().CloseHandle(out);
}

TEST_CASE_FIXTURE(SimFixture, "A fault on one converter leaves the other alone")
{
    sim::SimDevice &faulty = bus.AddConverter();
    sim::SimDevice &sound = bus.AddConverter();
    faulty.AddFault(Rule(sim::FaultRule::SendFails, 0, -1));
    HANDLE a = OpenDevice(faulty, GENERIC_WRITE);
    HANDLE b = OpenDevice(sound, GENERIC_WRITE);
    CHECK_FALSE(Send(a, WriteRequest(5, 1)));
    CHECK(Send(b, WriteRequest(5, 1)));
    CHECK(sound.Register(5) == 1);
    Sys().CloseHandle(a);
    Sys().CloseHandle(b);
}
