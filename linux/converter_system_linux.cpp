// The converter on Linux (cli/converter_system.h): found among the hidraw
// nodes through hidapi, and kept to one ZYR program at a time by two
// advisory locks (flock):
//   - a lock file, /run/lock/zyr-converter-16C0-03E8.lock, held from the
//     command's first open of the converter to its end, whatever node the
//     converter has meanwhile (a replug gives it a new one);
//   - the converter's hidraw node itself, locked for as long as the command
//     holds the first, so a program that knows only the node sees it taken.
// hidraw, like Windows, gives every open handle every input report: two
// programs on one converter would take each other's replies.
#include "cli/converter_system.h"

#include "base/converter_wire.h"
#include "linux/hidraw_transport.h"

#include <hidapi/hidapi.h>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <ctime>
#include <cwchar>

namespace {

constexpr const char *lockFolders[] = {"/run/lock", "/var/lock", "/tmp"};
constexpr const char *lockFileName = "zyr-converter-16C0-03E8.lock";
constexpr unsigned lockSliceMs = 50;

int lockFile = -1;
bool lockHeld = false;
int lockError = 0;
// The converter's node, locked while the command holds the lock.
int nodeLock = -1;
std::string lockedNode;

ProtocolMessageSink protocolMessages = nullptr;

int OpenLockFile()
{
    for (const char *folder : lockFolders) {
        struct stat status;
        if (stat(folder, &status) != 0 || !S_ISDIR(status.st_mode))
            continue;
        // Read-only is enough for flock, and lets every user open a lock
        // file another user made.
        const std::string path = std::string(folder) + "/" + lockFileName;
        const int fd = open(path.c_str(), O_RDONLY | O_CREAT | O_CLOEXEC, 0644);
        if (fd >= 0)
            return fd;
        lockError = errno;
        return -1;
    }
    lockError = ENOENT;
    return -1;
}

void ReleaseNode()
{
    if (nodeLock >= 0)
        close(nodeLock);  // lets go of its flock
    nodeLock = -1;
    lockedNode.clear();
}

long MonotonicMs()
{
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<long>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

// The converter as hidapi's hidraw backend shows it. Over USB it carries the
// whole identity; a converter that reaches the kernel without its USB
// descriptors (through uhid) carries only the kernel's device name, the
// manufacturer and product strings joined by a space, and release 0: that
// is taken too, and nothing else.
bool IsConverter(const hid_device_info &info)
{
    if (info.vendor_id != ZYR_VENDOR_ID || info.product_id != ZYR_PRODUCT_ID || info.usage_page != ZYR_USAGE_PAGE ||
        info.usage != ZYR_USAGE)
        return false;
    const wchar_t *manufacturer = info.manufacturer_string ? info.manufacturer_string : L"";
    const wchar_t *product = info.product_string ? info.product_string : L"";
    if (info.release_number == ZYR_RELEASE_NUMBER && std::wcscmp(manufacturer, ZYR_WIDE(ZYR_MANUFACTURER)) == 0 &&
        std::wcscmp(product, ZYR_WIDE(ZYR_PRODUCT)) == 0)
        return true;
    return info.release_number == 0 && *manufacturer == 0 &&
           std::wcscmp(product, ZYR_WIDE(ZYR_MANUFACTURER) L" " ZYR_WIDE(ZYR_PRODUCT)) == 0;
}

// The first converter's node, or "".
std::string FindConverterNode()
{
    std::string found;
    hid_device_info *all = hid_enumerate(ZYR_VENDOR_ID, ZYR_PRODUCT_ID);
    for (hid_device_info *info = all; info && found.empty(); info = info->next)
        if (IsConverter(*info) && info->path)
            found = info->path;
    hid_free_enumeration(all);
    return found;
}

struct LinuxConverterPort : ConverterPort {
    LinuxConverterPort() { transport.messages = protocolMessages; }
    ReportTransport &Transport() override { return transport; }
    HidrawTransport transport;
};

std::string PermissionText(const std::string &node)
{
    return "no permission to open " + node +
           ", the converter's device node: install the udev rule that comes with zyrctl "
           "(/usr/lib/udev/rules.d/70-zyr-converter.rules gives the user at the computer access), "
           "then unplug the converter and plug it in again";
}

}  // namespace

CommandLockTake TakeCommandLock(unsigned long waitMs, bool (*stop)())
{
    if (lockHeld)
        return CommandLockTake::taken;
    lockError = 0;
    if (lockFile < 0)
        lockFile = OpenLockFile();
    if (lockFile < 0)
        return CommandLockTake::failed;
    const long start = MonotonicMs();
    for (;;) {
        if (flock(lockFile, LOCK_EX | LOCK_NB) == 0) {
            lockHeld = true;
            return CommandLockTake::taken;
        }
        if (errno != EWOULDBLOCK && errno != EINTR) {
            lockError = errno;
            return CommandLockTake::failed;
        }
        if ((stop && stop()) || static_cast<unsigned long>(MonotonicMs() - start) >= waitMs)
            return CommandLockTake::busy;
        timespec slice{0, static_cast<long>(lockSliceMs) * 1000000L};
        nanosleep(&slice, nullptr);
    }
}

bool CommandLockHeld() { return lockHeld; }

void ReleaseCommandLock()
{
    ReleaseNode();
    if (lockFile >= 0)
        close(lockFile);
    lockFile = -1;
    lockHeld = false;
}

unsigned long CommandLockError() { return static_cast<unsigned long>(lockError); }

std::unique_ptr<ConverterPort> MakeConverterPort() { return std::make_unique<LinuxConverterPort>(); }

Outcome OpenConverterPort(ConverterPort &port, std::string &devicePath)
{
    if (hid_init() != 0)
        return Outcome::Fail(exitDevice, "converter not found: the HID library (hidapi) could not start, so no "
                                         "USB HID device can be looked for");
    const std::string node = FindConverterNode();
    if (node.empty())
        return Outcome::Fail(exitDevice, NoConverterText());
    if (node != lockedNode) {
        ReleaseNode();
        const int fd = open(node.c_str(), O_RDWR | O_CLOEXEC);
        if (fd < 0) {
            const int error = errno;
            if (error == EACCES || error == EPERM)
                return Outcome::Fail(exitNoAccess, PermissionText(node));
            return Outcome::Fail(exitDevice, "the converter was found but could not be opened (" + node + ": " +
                                                 std::strerror(error) + ")");
        }
        if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
            close(fd);
            return Outcome::Fail(exitDevice,
                                 "another program is using the converter (" + node + " is locked); nothing was sent");
        }
        nodeLock = fd;
        lockedNode = node;
    }
    HidrawTransport &transport = static_cast<LinuxConverterPort &>(port).transport;
    transport.SetPath(node);
    if (!transport.Open()) {
        if (errno == EACCES || errno == EPERM)
            return Outcome::Fail(exitNoAccess, PermissionText(node));
        return Outcome::Fail(exitDevice, "the converter was found but could not be opened (" + LastProtocolMessage() +
                                             "); is another program using it?");
    }
    // The converter needs a moment after an open before the first request.
    transport.Pause(5);
    devicePath = node;
    return Outcome::Success();
}

void SendProtocolMessagesTo(ProtocolMessageSink keep) { protocolMessages = keep; }
