// A device on the simulated bus: its registers, its fault rules and what
// reached its firmware, each read and changed under the bus lock.
#include "sim/sim_state.h"

#include <cctype>

namespace sim {

using detail::BusState;

namespace {
std::mutex &BusLock() { return SimBus::Instance().State().lock; }
}  // namespace

SimDevice::SimDevice() : state(new detail::DeviceState) {}
SimDevice::~SimDevice() = default;

uint8_t SimDevice::Register(int address) const
{
    std::lock_guard<std::mutex> hold(BusLock());
    return state->registers[address & 0xFF];
}

void SimDevice::SetRegister(int address, uint8_t value)
{
    std::lock_guard<std::mutex> hold(BusLock());
    state->registers[address & 0xFF] = value;
}

void SimDevice::SetWord(int address, uint16_t value)
{
    std::lock_guard<std::mutex> hold(BusLock());
    state->registers[address & 0xFF] = static_cast<uint8_t>(value & 0xFF);
    state->registers[(address + 1) & 0xFF] = static_cast<uint8_t>(value >> 8);
}

std::array<uint8_t, 256> SimDevice::Registers() const
{
    std::lock_guard<std::mutex> hold(BusLock());
    return state->registers;
}

void SimDevice::SetRegisters(const std::array<uint8_t, 256> &values)
{
    std::lock_guard<std::mutex> hold(BusLock());
    state->registers = values;
}

void SimDevice::AddFault(const FaultRule &rule)
{
    std::lock_guard<std::mutex> hold(BusLock());
    state->faults.push_back({rule, 0});
}

void SimDevice::ClearFaults()
{
    std::lock_guard<std::mutex> hold(BusLock());
    state->faults.clear();
}

void SimDevice::PushInputReport(const Report &report)
{
    BusState &bus = SimBus::Instance().State();
    std::lock_guard<std::mutex> hold(bus.lock);
    if (!present)
        return;  // nobody hears a device that is not there
    bus.Record(false, report, *this);
    bus.Deliver(*this, detail::InputReport{report, -1});
}

int SimDevice::WritesTo(int address) const
{
    std::lock_guard<std::mutex> hold(BusLock());
    return state->writes[address & 0xFF];
}

int SimDevice::ReadsOf(int address) const
{
    std::lock_guard<std::mutex> hold(BusLock());
    return state->reads[address & 0xFF];
}

std::string SimDevice::NotificationName() const
{
    std::string name = path;
    const size_t classGuid = name.find("#{");
    for (size_t i = 0; i < name.size() && i < classGuid; ++i)
        name[i] = static_cast<char>(std::toupper(static_cast<unsigned char>(name[i])));
    return name;
}

namespace detail {

namespace {

bool Matches(const FaultRule &rule, int command, int address)
{
    return (rule.command == 0 || rule.command == command) && (rule.address < 0 || rule.address == address);
}

// Counts the match and says whether the rule fires for it.
bool Fires(RuleState &state)
{
    const int index = state.matched++;
    if (index < state.rule.skip)
        return false;
    return state.rule.times < 0 || index < state.rule.skip + state.rule.times;
}

bool IsReceiveKind(FaultRule::Kind kind) { return kind == FaultRule::ReceiveFails || kind == FaultRule::ReceiveZero; }

// These change the answer to a read request; only read requests count.
bool IsReplyKind(FaultRule::Kind kind)
{
    return kind == FaultRule::WrongReadBack || kind == FaultRule::NoReply || kind == FaultRule::LateReply;
}

}  // namespace

std::optional<FaultRule::Kind> TakeReceiveFault(DeviceState &device, const InputReport &report)
{
    const int command = report.replyTo >= 0 ? 2 : -1;
    std::optional<FaultRule::Kind> fired;
    for (RuleState &state : device.faults) {
        if (!IsReceiveKind(state.rule.kind))
            continue;
        const bool matches = command < 0 ? state.rule.command == 0 && state.rule.address < 0
                                         : Matches(state.rule, command, report.replyTo);
        if (matches && Fires(state) && !fired)
            fired = state.rule.kind;
    }
    return fired;
}

std::optional<FaultRule> TakeSendFault(DeviceState &device, uint8_t command, uint8_t address)
{
    std::optional<FaultRule> fired;
    for (RuleState &state : device.faults) {
        if (IsReceiveKind(state.rule.kind) || !Matches(state.rule, command, address))
            continue;
        if (IsReplyKind(state.rule.kind) && command != commandReadRegister)
            continue;
        if (Fires(state) && !fired)
            fired = state.rule;
    }
    return fired;
}

std::optional<InputReport> RunFirmware(DeviceState &device, const Report &request, std::optional<FaultRule::Kind> fault)
{
    const uint8_t command = request[1];
    const uint8_t address = request[2];
    if (command == commandWriteRegister) {
        device.registers[address] = request[3];
        ++device.writes[address];
        return std::nullopt;  // write requests are never answered
    }
    if (command != commandReadRegister)
        return std::nullopt;  // unknown commands are ignored
    ++device.reads[address];
    if (fault == FaultRule::NoReply)
        return std::nullopt;
    InputReport reply;
    reply.replyTo = address;
    reply.bytes[1] = command;
    reply.bytes[2] = address;
    reply.bytes[3] = device.registers[address];
    // The host reads byte 3 only; the rest of the report carries the
    // registers that follow, so whatever a host keeps of a reply is visible.
    for (int i = 4; i < 9; ++i)
        reply.bytes[i] = device.registers[static_cast<uint8_t>(address + i - 3)];
    if (fault == FaultRule::WrongReadBack)
        reply.bytes[3] = static_cast<uint8_t>(~reply.bytes[3]);
    return reply;
}

}  // namespace detail
}  // namespace sim
