// The Win32 structures the program hands to the system or reads from it,
// checked against the sizes and offsets the system itself uses at each
// width. The system reads them by those layouts (and checks cbSize fields
// against them): a header that packs or pads one differently must stop the
// build, not turn into a converter that is never found or a window class
// that is never registered.
#include "device/device_syscalls.h"
#include "device/hid_library.h"

#include <cstddef>

namespace {

// The size on 32-bit Windows or on 64-bit Windows, by the width of this build.
constexpr size_t ExpectedSize(size_t onX86, size_t onX64) { return sizeof(void *) == 8 ? onX64 : onX86; }

}  // namespace

static_assert(sizeof(void *) == 4 || sizeof(void *) == 8, "a 32-bit or 64-bit Windows build");

static_assert(sizeof(GUID) == 16, "GUID");

// SetupAPI: packed to 1 byte on 32-bit Windows, to 8 on 64-bit.
static_assert(sizeof(SP_DEVINFO_DATA) == ExpectedSize(28, 32), "SP_DEVINFO_DATA");
static_assert(sizeof(SP_DEVICE_INTERFACE_DATA) == ExpectedSize(28, 32), "SP_DEVICE_INTERFACE_DATA");
static_assert(sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A) == ExpectedSize(5, 8),
              "SP_DEVICE_INTERFACE_DETAIL_DATA_A: its cbSize must be what SetupAPI expects");
static_assert(offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_A, DevicePath) == 4,
              "SP_DEVICE_INTERFACE_DETAIL_DATA_A::DevicePath");

// hid.dll
static_assert(sizeof(HIDD_ATTRIBUTES) == 12, "HIDD_ATTRIBUTES");
static_assert(offsetof(HIDD_ATTRIBUTES, VendorID) == 4 && offsetof(HIDD_ATTRIBUTES, ProductID) == 6 &&
                  offsetof(HIDD_ATTRIBUTES, VersionNumber) == 8,
              "HIDD_ATTRIBUTES fields");
static_assert(sizeof(HIDP_CAPS) == 64, "HIDP_CAPS");
static_assert(offsetof(HIDP_CAPS, InputReportByteLength) == 4 && offsetof(HIDP_CAPS, OutputReportByteLength) == 6,
              "HIDP_CAPS report lengths");

// Overlapped file I/O on device handles.
static_assert(sizeof(OVERLAPPED) == ExpectedSize(20, 32), "OVERLAPPED");
static_assert(offsetof(OVERLAPPED, hEvent) == ExpectedSize(16, 24), "OVERLAPPED::hEvent");

// Device-change notifications.
static_assert(sizeof(DEV_BROADCAST_HDR) == 12, "DEV_BROADCAST_HDR");
static_assert(sizeof(DEV_BROADCAST_DEVICEINTERFACE_A) == 32, "DEV_BROADCAST_DEVICEINTERFACE_A");
static_assert(offsetof(DEV_BROADCAST_DEVICEINTERFACE_A, dbcc_classguid) == 12 &&
                  offsetof(DEV_BROADCAST_DEVICEINTERFACE_A, dbcc_name) == 28,
              "DEV_BROADCAST_DEVICEINTERFACE_A fields");

// Windows: the hidden window's class and creation, the worker's message
// loop, and the focus query of the controls.
static_assert(sizeof(WNDCLASSEXA) == ExpectedSize(48, 80), "WNDCLASSEXA");
static_assert(sizeof(CREATESTRUCTA) == ExpectedSize(48, 80), "CREATESTRUCTA");
static_assert(sizeof(MSG) == ExpectedSize(28, 48), "MSG");
static_assert(sizeof(GUITHREADINFO) == ExpectedSize(48, 72), "GUITHREADINFO");
