// The simulated bus itself: its devices, their arrival and removal, the
// clock, and the counters tests read afterwards.
#include "sim/sim_state.h"

#include <algorithm>
#include <cstddef>
#include <cstdio>

namespace sim {

using detail::BusState;
using detail::UnderLock;

SimBus &SimBus::Instance()
{
    // Never destroyed: the global device object releases "hid.dll" through
    // the bus during exit processing, and threads may still be using it.
    static SimBus *bus = new SimBus;
    return *bus;
}

SimBus::SimBus() : state(new BusState) {}

void SimBus::Reset()
{
    {
        std::lock_guard<std::mutex> hold(state->lock);
        // Whatever a test left behind must not wait for ever.
        for (auto &entry : state->files) {
            state->EndReads(*entry.second, detail::statusCancelled);
            entry.second->closed = true;
        }
        state->files.clear();
        state->lists.clear();
        state->registrations.clear();
        for (detail::PreparsedBlock *block : state->preparsed)
            delete block;
        state->preparsed.clear();
        state->lateReports.clear();
        state->devices.clear();
        state->openHandlesTotal = 0;
        state->libraryLoads = 0;
        state->libraryFrees = 0;
        state->timerDepth = 0;
        state->notificationsSent = 0;
        state->traffic.clear();
        state->sleeps.clear();
        state->realTime = false;
        state->frameLatencyUs = 1000;
        state->virtualMs = 0;
        state->changed.notify_all();
    }
    hidLibraryMissing = false;
    missingEntryPoints.clear();
    failClassDevs = false;
    failInterfaceDetail = false;
    failRegisterNotification = false;
}

namespace {

SimDevice &Add(BusState &state, const DeviceIdentity &id, bool converter, const char *pathFormat)
{
    std::lock_guard<std::mutex> hold(state.lock);
    auto device = std::make_unique<SimDevice>();
    device->identity = id;
    device->converter = converter;
    device->State().registers = FactoryRegisters();
    // Every interface gets an instance id of its own, as the device
    // manager gives each USB port's device.
    const int instance = ++state.devicesEverAdded;
    char path[300];
    std::snprintf(path, sizeof path, pathFormat, id.vendorId, id.productId, instance);
    device->path = std::string(path) + "#{4d1e55b2-f16f-11cf-88cb-001111000030}";
    state.devices.push_back(std::move(device));
    return *state.devices.back();
}

constexpr const char *usbPath = "\\\\?\\hid#vid_%04x&pid_%04x#7&2b1fa6c4&0&%04d";
constexpr const char *wineBusPath = "\\\\?\\hid#vid_%04x&pid_%04x#0&0000&0&%d";

}  // namespace

SimDevice &SimBus::AddConverter() { return Add(*state, DeviceIdentity{}, true, usbPath); }

SimDevice &SimBus::AddDevice(const DeviceIdentity &id) { return Add(*state, id, false, usbPath); }

SimDevice &SimBus::AddWineMouse()
{
    DeviceIdentity id;
    id.vendorId = 0x845E;
    id.productId = 0x0001;
    id.releaseNumber = 0x0000;
    id.manufacturer = "The Wine Project";
    id.product = "Wine HID mouse";
    id.inputReportLength = 2;  // as wine64's own mouse reports them
    id.outputReportLength = 0;
    return Add(*state, id, false, wineBusPath);
}

SimDevice &SimBus::AddWineKeyboard()
{
    DeviceIdentity id;
    id.vendorId = 0x845E;
    id.productId = 0x0002;
    id.releaseNumber = 0x0000;
    id.manufacturer = "The Wine Project";
    id.product = "Wine HID keyboard";
    id.inputReportLength = 14;
    id.outputReportLength = 0;
    return Add(*state, id, false, wineBusPath);
}

namespace {

// Sends WM_DEVICECHANGE to every window registered for HID interfaces. The
// record lives on this stack until every receiver has handled it.
void Broadcast(BusState &state, WPARAM event, const std::string &name)
{
    std::vector<detail::Registration> receivers;
    {
        std::lock_guard<std::mutex> hold(state.lock);
        for (const auto &entry : state.registrations)
            if (entry.second.allClasses || IsEqualGUID(entry.second.classGuid, detail::hidClassGuid))
                receivers.push_back(entry.second);
    }
    std::vector<char> block(sizeof(DEV_BROADCAST_DEVICEINTERFACE_A) + name.size(), 0);
    auto *record = reinterpret_cast<DEV_BROADCAST_DEVICEINTERFACE_A *>(block.data());
    record->dbcc_size = static_cast<DWORD>(offsetof(DEV_BROADCAST_DEVICEINTERFACE_A, dbcc_name) + name.size() + 1);
    record->dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
    record->dbcc_classguid = detail::hidClassGuid;
    std::copy(name.begin(), name.end(), record->dbcc_name);
    for (const detail::Registration &receiver : receivers) {
        if (!IsWindow(receiver.window))
            continue;
        {
            std::lock_guard<std::mutex> hold(state.lock);
            ++state.notificationsSent;
        }
        SendMessageA(receiver.window, WM_DEVICECHANGE, event, reinterpret_cast<LPARAM>(record));
    }
}

}  // namespace

void SimBus::Unplug(SimDevice &device)
{
    {
        std::lock_guard<std::mutex> hold(state->lock);
        if (!device.present)
            return;
        device.present = false;
        ++device.State().generation;
        for (auto &entry : state->files) {
            detail::OpenFile &file = *entry.second;
            if (file.device != &device)
                continue;
            state->EndReads(file, detail::statusDeviceNotConnected);
            file.queue.clear();
        }
        auto &late = state->lateReports;
        late.erase(std::remove_if(late.begin(), late.end(),
                                  [&](const detail::LateReport &report) { return report.device == &device; }),
                   late.end());
    }
    Broadcast(*state, DBT_DEVICEREMOVECOMPLETE, device.NotificationName());
}

void SimBus::Replug(SimDevice &device)
{
    {
        std::lock_guard<std::mutex> hold(state->lock);
        device.State().replugAtMs = -1;
        if (device.present)
            return;
        device.present = true;
    }
    Broadcast(*state, DBT_DEVICEARRIVAL, device.NotificationName());
}

void SimBus::SetRealTime(bool realTime, unsigned frameLatencyUs)
{
    std::lock_guard<std::mutex> hold(state->lock);
    const uint64_t now = state->NowMsLocked();
    if (realTime && !state->realTime)
        state->realStart = GetTickCount64() - now;
    if (!realTime && state->realTime)
        state->virtualMs = now;
    state->realTime = realTime;
    state->frameLatencyUs = frameLatencyUs;
}

namespace {

int Count(size_t size) { return static_cast<int>(size); }

// The sum of `each` over the open files.
template <class Each> int SumOverFiles(const BusState &state, Each each)
{
    int count = 0;
    for (const auto &entry : state.files)
        count += each(*entry.second);
    return count;
}

}  // namespace

uint64_t SimBus::NowMs() const
{
    return UnderLock(*state, [](BusState &s) { return s.NowMsLocked(); });
}

bool SimBus::RealTime() const
{
    return UnderLock(*state, [](BusState &s) { return s.realTime; });
}

int SimBus::OpenHandles() const
{
    return UnderLock(*state, [](BusState &s) { return Count(s.files.size()); });
}

int SimBus::OpenHandlesTotal() const
{
    return UnderLock(*state, [](BusState &s) { return s.openHandlesTotal; });
}

int SimBus::OpenDeviceInfoLists() const
{
    return UnderLock(*state, [](BusState &s) { return Count(s.lists.size()); });
}

int SimBus::LibraryLoads() const
{
    return UnderLock(*state, [](BusState &s) { return s.libraryLoads; });
}

int SimBus::LibraryFrees() const
{
    return UnderLock(*state, [](BusState &s) { return s.libraryFrees; });
}

int SimBus::TimerPeriodDepth() const
{
    return UnderLock(*state, [](BusState &s) { return s.timerDepth; });
}

std::vector<Transfer> SimBus::Traffic() const
{
    return UnderLock(*state, [](BusState &s) { return s.traffic; });
}

void SimBus::ClearTraffic()
{
    UnderLock(*state, [](BusState &s) { s.traffic.clear(); });
}

std::vector<DWORD> SimBus::Sleeps() const
{
    return UnderLock(*state, [](BusState &s) { return s.sleeps; });
}

int SimBus::NotificationRegistrations() const
{
    return UnderLock(*state, [](BusState &s) { return Count(s.registrations.size()); });
}

int SimBus::NotificationsSent() const
{
    return UnderLock(*state, [](BusState &s) { return s.notificationsSent; });
}

int SimBus::OutstandingPreparsedData() const
{
    return UnderLock(*state, [](BusState &s) { return Count(s.preparsed.size()); });
}

int SimBus::PendingReads() const
{
    return UnderLock(*state, [](BusState &s) {
        return SumOverFiles(s, [](const detail::OpenFile &file) { return Count(file.pending.size()); });
    });
}

int SimBus::BlockedReads() const
{
    return UnderLock(*state, [](BusState &s) {
        return SumOverFiles(s, [](const detail::OpenFile &file) { return file.blockedReaders; });
    });
}

std::vector<SimDevice *> SimBus::Devices()
{
    std::lock_guard<std::mutex> hold(state->lock);
    std::vector<SimDevice *> all;
    for (auto &device : state->devices)
        all.push_back(device.get());
    return all;
}

namespace detail {

void RunDueReplugs()
{
    SimBus &bus = SimBus::Instance();
    BusState &state = bus.State();
    std::vector<SimDevice *> due;
    {
        std::lock_guard<std::mutex> hold(state.lock);
        const uint64_t now = state.NowMsLocked();
        for (auto &device : state.devices) {
            DeviceState &d = device->State();
            if (d.replugAtMs >= 0 && static_cast<uint64_t>(d.replugAtMs) <= now) {
                d.replugAtMs = -1;
                due.push_back(device.get());
            }
        }
    }
    for (SimDevice *device : due)
        bus.Replug(*device);
}

void RealPause(unsigned microseconds)
{
    LARGE_INTEGER frequency, start, now;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&start);
    const LONGLONG ticks = frequency.QuadPart * microseconds / 1000000;
    if (microseconds >= 2000)
        ::Sleep(microseconds / 1000 - 1);
    do {
        ::Sleep(0);
        QueryPerformanceCounter(&now);
    } while (now.QuadPart - start.QuadPart < ticks);
}

}  // namespace detail
}  // namespace sim
