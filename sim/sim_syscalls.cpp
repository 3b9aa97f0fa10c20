// The device boundary bound to the simulated bus, and the device-change
// registrations that Unplug and Replug notify.
#include "sim/sim_entry_points.h"
#include "sim/sim_state.h"

namespace sim {

namespace detail {

HDEVNOTIFY WINAPI RegisterDeviceNotificationA(HANDLE recipient, LPVOID filter, DWORD flags)
{
    SimBus &sim = SimBus::Instance();
    if (sim.failRegisterNotification)
        return Fail<HDEVNOTIFY>(ERROR_SERVICE_NOT_ACTIVE, nullptr);
    if (flags & DEVICE_NOTIFY_SERVICE_HANDLE)
        return Fail<HDEVNOTIFY>(ERROR_INVALID_PARAMETER, nullptr);
    if (!IsWindow(static_cast<HWND>(recipient)))
        return Fail<HDEVNOTIFY>(ERROR_INVALID_WINDOW_HANDLE, nullptr);
    // A device-interface filter must be the whole structure (32 bytes on
    // either width); a bare header or another type is refused.
    const auto *header = static_cast<const DEV_BROADCAST_HDR *>(filter);
    if (!header || header->dbch_devicetype != DBT_DEVTYP_DEVICEINTERFACE ||
        header->dbch_size < sizeof(DEV_BROADCAST_DEVICEINTERFACE_A))
        return Fail<HDEVNOTIFY>(ERROR_INVALID_DATA, nullptr);
    const auto *wanted = static_cast<const DEV_BROADCAST_DEVICEINTERFACE_A *>(filter);
    BusState &bus = sim.State();
    std::lock_guard<std::mutex> hold(bus.lock);
    const uintptr_t value = notifyHandleBase + 4 * ++bus.nextNotify;
    bus.registrations[value] = Registration{static_cast<HWND>(recipient), wanted->dbcc_classguid,
                                            (flags & DEVICE_NOTIFY_ALL_INTERFACE_CLASSES) != 0};
    return reinterpret_cast<HDEVNOTIFY>(value);
}

BOOL WINAPI UnregisterDeviceNotification(HDEVNOTIFY handle)
{
    return EndUnderLock(ERROR_INVALID_HANDLE, [handle](BusState &bus) {
        return bus.registrations.erase(reinterpret_cast<uintptr_t>(handle)) != 0;
    });
}

}  // namespace detail

DeviceSyscalls BusSyscalls()
{
    DeviceSyscalls s{};
    s.LoadHidLibrary = detail::LoadHidLibrary;
    s.GetProcAddress = detail::GetProcAddress;
    s.FreeLibrary = detail::FreeLibrary;
    s.SetupDiGetClassDevsA = detail::SetupDiGetClassDevsA;
    s.SetupDiEnumDeviceInterfaces = detail::SetupDiEnumDeviceInterfaces;
    s.SetupDiGetDeviceInterfaceDetailA = detail::SetupDiGetDeviceInterfaceDetailA;
    s.SetupDiDestroyDeviceInfoList = detail::SetupDiDestroyDeviceInfoList;
    s.CreateFileA = detail::CreateFileA;
    s.ReadFile = detail::ReadFile;
    s.WriteFile = detail::WriteFile;
    s.CloseHandle = detail::CloseHandle;
    s.GetOverlappedResult = detail::GetOverlappedResult;
    s.CancelIoEx = detail::CancelIoEx;
    s.WaitForSingleObject = detail::WaitForSingleObject;
    s.Sleep = detail::Sleep;
    s.TimeBeginPeriod = detail::TimeBeginPeriod;
    s.TimeEndPeriod = detail::TimeEndPeriod;
    s.RegisterDeviceNotificationA = detail::RegisterDeviceNotificationA;
    s.UnregisterDeviceNotification = detail::UnregisterDeviceNotification;
    // The real kernel mutex: two simulated programs share it as two shipped
    // ones do. Its waits are real time, never the bus's clock.
    BindKernelMutex(s);
    return s;
}

}  // namespace sim
