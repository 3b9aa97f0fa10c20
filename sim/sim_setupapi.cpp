// The SetupAPI walk over HID interfaces: a snapshot of the bus per
// SetupDiGetClassDevsA, and the two-call interface-detail protocol with the
// size checks Windows makes.
#include "sim/sim_entry_points.h"
#include "sim/sim_state.h"

#include <cstddef>
#include <cstring>

namespace sim::detail {

namespace {

// The HIDClass device setup class, {745A17A0-74D3-11D0-B6FE-00A0C90F57DA}.
const GUID hidSetupClass = {0x745A17A0, 0x74D3, 0x11D0, {0xB6, 0xFE, 0x00, 0xA0, 0xC9, 0x0F, 0x57, 0xDA}};

DeviceList *FindList(BusState &bus, HDEVINFO list)
{
    auto found = bus.lists.find(reinterpret_cast<uintptr_t>(list));
    return found == bus.lists.end() ? nullptr : &found->second;
}

// The list a call about one interface names, checked as Windows checks a
// call's list handle and interface data: null, with the error set, when
// the handle names no list or the data is not this process's structure.
DeviceList *InterfaceCallList(BusState &bus, HDEVINFO handle, const SP_DEVICE_INTERFACE_DATA *data)
{
    DeviceList *list = FindList(bus, handle);
    if (!list)
        return Fail<DeviceList *>(ERROR_INVALID_HANDLE, nullptr);
    if (!data || data->cbSize != sizeof(SP_DEVICE_INTERFACE_DATA))
        return Fail<DeviceList *>(ERROR_INVALID_USER_BUFFER, nullptr);
    return list;
}

// Runs `act` on the list a call about one interface names, under the bus
// lock; FALSE (with the error set) when the call names none.
template <class Act> BOOL OnInterfaceList(HDEVINFO handle, const SP_DEVICE_INTERFACE_DATA *data, Act act)
{
    BusState &bus = Bus();
    std::lock_guard<std::mutex> hold(bus.lock);
    DeviceList *list = InterfaceCallList(bus, handle, data);
    if (!list)
        return FALSE;
    return act(*list);
}

// The index of the interface in the list, -1 when it is not one of its.
int IndexIn(const DeviceList &list, const SP_DEVICE_INTERFACE_DATA &data)
{
    for (size_t i = 0; i < list.devices.size(); ++i)
        if (reinterpret_cast<ULONG_PTR>(list.devices[i]) == data.Reserved)
            return static_cast<int>(i);
    return -1;
}

}  // namespace

HDEVINFO WINAPI SetupDiGetClassDevsA(const GUID *classGuid, PCSTR, HWND, DWORD flags)
{
    RunDueReplugs();
    if (SimBus::Instance().failClassDevs)
        return Fail(ERROR_INVALID_DATA, INVALID_HANDLE_VALUE);
    if (!classGuid && !(flags & DIGCF_ALLCLASSES))
        return Fail(ERROR_INVALID_PARAMETER, INVALID_HANDLE_VALUE);
    BusState &bus = Bus();
    std::lock_guard<std::mutex> hold(bus.lock);
    DeviceList list;
    const bool hid = (flags & DIGCF_ALLCLASSES) || IsEqualGUID(*classGuid, hidClassGuid);
    if (hid && (flags & DIGCF_DEVICEINTERFACE))
        for (auto &device : bus.devices)
            if (device->present || !(flags & DIGCF_PRESENT))
                list.devices.push_back(device.get());
    const uintptr_t value = listHandleBase + 4 * ++bus.nextList;
    bus.lists[value] = std::move(list);
    return reinterpret_cast<HDEVINFO>(value);
}

BOOL WINAPI SetupDiEnumDeviceInterfaces(HDEVINFO handle, PSP_DEVINFO_DATA device, const GUID *classGuid, DWORD index,
                                        PSP_DEVICE_INTERFACE_DATA data)
{
    return OnInterfaceList(handle, data, [&](DeviceList &list) {
        if (!classGuid)
            return Fail(ERROR_INVALID_PARAMETER, FALSE);
        size_t position = index;
        if (device) {
            // The interfaces of one element: each simulated device has one.
            if (device->cbSize != sizeof(SP_DEVINFO_DATA))
                return Fail(ERROR_INVALID_USER_BUFFER, FALSE);
            if (index != 0)
                return Fail(ERROR_NO_MORE_ITEMS, FALSE);
            position = device->DevInst - 1;
        }
        if (!IsEqualGUID(*classGuid, hidClassGuid) || position >= list.devices.size())
            return Fail(ERROR_NO_MORE_ITEMS, FALSE);
        data->InterfaceClassGuid = hidClassGuid;
        data->Flags = SPINT_ACTIVE;
        data->Reserved = reinterpret_cast<ULONG_PTR>(list.devices[position]);
        return BOOL{TRUE};
    });
}

BOOL WINAPI SetupDiGetDeviceInterfaceDetailA(HDEVINFO handle, PSP_DEVICE_INTERFACE_DATA data,
                                             PSP_DEVICE_INTERFACE_DETAIL_DATA_A detail, DWORD detailSize,
                                             PDWORD requiredSize, PSP_DEVINFO_DATA device)
{
    return OnInterfaceList(handle, data, [&](DeviceList &list) {
        const int index = IndexIn(list, *data);
        if (index < 0)
            return Fail(ERROR_INVALID_PARAMETER, FALSE);
        const SimDevice &interface = *list.devices[index];
        constexpr DWORD fixedPart = offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_A, DevicePath);
        const DWORD needed = static_cast<DWORD>(fixedPart + interface.path.size() + 1);

        // The size field must be that of this process's structure (5 bytes in
        // a 32-bit process, 8 in a 64-bit one), whatever the buffer's size.
        if (detail && detail->cbSize != sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A))
            return Fail(ERROR_INVALID_USER_BUFFER, FALSE);
        if (!detail && detailSize != 0)
            return Fail(ERROR_INVALID_USER_BUFFER, FALSE);
        if (detail && detailSize < fixedPart + 1)
            return Fail(ERROR_INVALID_USER_BUFFER, FALSE);
        if (device && device->cbSize != sizeof(SP_DEVINFO_DATA))
            return Fail(ERROR_INVALID_USER_BUFFER, FALSE);
        if (detail && (SimBus::Instance().failInterfaceDetail || interface.failInterfaceDetail))
            return Fail(ERROR_NO_SUCH_DEVINST, FALSE);
        if (!detail || detailSize < needed) {
            if (requiredSize)
                *requiredSize = needed;
            return Fail(ERROR_INSUFFICIENT_BUFFER, FALSE);
        }
        std::memcpy(detail->DevicePath, interface.path.c_str(), interface.path.size() + 1);
        if (requiredSize)
            *requiredSize = needed;
        if (device) {
            device->ClassGuid = hidSetupClass;
            device->DevInst = static_cast<DWORD>(index + 1);
            device->Reserved = 0;
        }
        return BOOL{TRUE};
    });
}

BOOL WINAPI SetupDiDestroyDeviceInfoList(HDEVINFO handle)
{
    return EndUnderLock(ERROR_INVALID_HANDLE,
                        [handle](BusState &bus) { return bus.lists.erase(reinterpret_cast<uintptr_t>(handle)) != 0; });
}

}  // namespace sim::detail
