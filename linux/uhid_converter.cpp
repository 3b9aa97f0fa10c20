// zyr-uhid-converter: a converter made by the kernel's user-space HID
// driver (/dev/uhid), with the converter's identity and report descriptor,
// so that the Linux programs reach it through the kernel's own HID core and
// hidraw exactly as they reach a real one. Its firmware: a read request
// (command 2) is answered by one input report carrying the register's value
// in byte 3; a write request (command 1) stores the value and gets no reply.
//
//     zyr-uhid-converter --state FILE [--control FIFO] [--silent]
//                        [--late MS[:TIMES]] [--unplug-after N] [--name TEXT]
//                        [--gadget /dev/hidgN]
//     zyr-uhid-converter --report-descriptor     (its bytes, on standard output)
//
// With --gadget it is the firmware of a USB HID gadget function instead
// (configfs, on dummy_hcd): the kernel's USB stack then carries the whole
// USB identity, which a uhid device cannot; the gadget is set up, and
// removed, by whoever made it.
//
// FILE is a backup file: the registers it starts with (the VSS+ECT 12300
// factory image when FILE does not exist) and, rewritten after every write
// request, what the converter holds: the converter's own side of every test.
// Lines written to FIFO change it while it runs:
//     silent | answer         read requests get no reply / replies again
//     late MS [TIMES]         replies MS late (TIMES replies, 0 for ever)
//     unplug-after N          removed at the write request after N more
//     unplug                  removed now
// Removal destroys the device (its hidraw node goes) and ends the program.
// It prints "ready" on standard output once the kernel has the device.
#include "config/config_image.h"
#include "config/default_images.h"
#include "settings/backup_file.h"

#include "base/converter_wire.h"

#include <linux/uhid.h>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <iterator>
#include <string>
#include <utility>

namespace {

using Clock = std::chrono::steady_clock;

struct Faults {
    bool silent = false;
    int lateMs = 0;
    int lateTimes = 0;  // 0: for ever
    long unplugAfter = -1;  // write requests still to come before removal; -1 never
};

struct Reply {
    Clock::time_point due;
    uint8_t payload[ZYR_REPORT_PAYLOAD];
};

volatile sig_atomic_t stopRequested = 0;
void OnSignal(int) { stopRequested = 1; }

const uint8_t reportDescriptor[] = {ZYR_REPORT_DESCRIPTOR_BYTES};

bool WriteEvent(int uhid, const uhid_event &event)
{
    return write(uhid, &event, sizeof event) == static_cast<ssize_t>(sizeof event);
}

bool Create(int uhid, const std::string &name)
{
    uhid_event event{};
    event.type = UHID_CREATE2;
    std::snprintf(reinterpret_cast<char *>(event.u.create2.name), sizeof event.u.create2.name, "%s", name.c_str());
    std::snprintf(reinterpret_cast<char *>(event.u.create2.phys), sizeof event.u.create2.phys, "zyr-uhid");
    std::snprintf(reinterpret_cast<char *>(event.u.create2.uniq), sizeof event.u.create2.uniq, "ZYRU0");
    event.u.create2.rd_size = sizeof reportDescriptor;
    event.u.create2.bus = 0x03;  // BUS_USB
    event.u.create2.vendor = ZYR_VENDOR_ID;
    event.u.create2.product = ZYR_PRODUCT_ID;
    event.u.create2.version = ZYR_RELEASE_NUMBER;
    std::memcpy(event.u.create2.rd_data, reportDescriptor, sizeof reportDescriptor);
    return WriteEvent(uhid, event);
}

void Destroy(int uhid)
{
    uhid_event event{};
    event.type = UHID_DESTROY;
    WriteEvent(uhid, event);
}

class Converter {
public:
    explicit Converter(std::string statePath) : statePath(std::move(statePath)) {}

    bool Load()
    {
        FILE *file = std::fopen(statePath.c_str(), "rb");
        if (!file) {
            const DefaultImage image = FindDefaultImage(12300, 2);
            registers.Erase();
            for (size_t i = 0; i < image.length; ++i)
                registers.SetByte(static_cast<uint8_t>(i), image.bytes[i]);
            return Save();
        }
        std::string text(maxBackupFileSize + 1, '\0');
        text.resize(std::fread(&text[0], 1, text.size(), file));
        std::fclose(file);
        BackupFile backup;
        if (Result parsed = ParseBackupFile(text, backup); !parsed) {
            std::fprintf(stderr, "zyr-uhid-converter: %s: %s\n", statePath.c_str(), parsed.Message().c_str());
            return false;
        }
        registers = backup.image;
        return true;
    }

    // Written whole, then renamed over the file: a reader never sees half.
    bool Save() const
    {
        const std::string temporary = statePath + ".new";
        FILE *file = std::fopen(temporary.c_str(), "wb");
        if (!file)
            return false;
        const std::string text = FormatBackupFile(registers, "converter");
        const bool written = std::fwrite(text.data(), 1, text.size(), file) == text.size();
        return std::fclose(file) == 0 && written && std::rename(temporary.c_str(), statePath.c_str()) == 0;
    }

    RegisterImage registers;
    std::string statePath;
};

// One control line; false for a line it does not know.
bool Control(const std::string &line, Faults &faults, bool &unplugNow)
{
    char word[32] = {};
    long a = 0, b = 0;
    const int n = std::sscanf(line.c_str(), "%31s %ld %ld", word, &a, &b);
    const std::string command = n >= 1 ? word : "";
    if (command == "silent")
        faults.silent = true;
    else if (command == "answer")
        faults.silent = false;
    else if (command == "late" && n >= 2)
        faults.lateMs = static_cast<int>(a), faults.lateTimes = n >= 3 ? static_cast<int>(b) : 0;
    else if (command == "unplug-after" && n >= 2)
        faults.unplugAfter = a;
    else if (command == "unplug")
        unplugNow = true;
    else
        return false;
    return true;
}

// Once the converter is there for the system: the caller waits for this line.
void AnnounceReady(bool &started)
{
    started = true;
    std::printf("ready\n");
    std::fflush(stdout);
}

// What could not be opened, and why; the exit code.
int OpenFailed(const char *path)
{
    std::fprintf(stderr, "zyr-uhid-converter: %s: %s\n", path, std::strerror(errno));
    return 1;
}

int Usage()
{
    std::fprintf(stderr, "usage: zyr-uhid-converter --state FILE [--control FIFO] [--silent] [--late MS[:TIMES]] "
                         "[--unplug-after N] [--name TEXT]\n");
    return 2;
}

}  // namespace

int main(int argc, char **argv)
{
    std::string statePath, controlPath, gadgetPath, name = ZYR_MANUFACTURER " " ZYR_PRODUCT;
    // The options whose value is kept as it is given.
    const std::pair<const char *, std::string *> textOptions[] = {
        {"--state", &statePath}, {"--control", &controlPath}, {"--name", &name}, {"--gadget", &gadgetPath}};
    Faults faults;
    for (int i = 1; i < argc; ++i) {
        const std::string option = argv[i];
        const bool hasValue = i + 1 < argc;
        const auto text = std::find_if(std::begin(textOptions), std::end(textOptions),
                                       [&](const auto &entry) { return option == entry.first; });
        if (text != std::end(textOptions) && hasValue)
            *text->second = argv[++i];
        else if (option == "--silent")
            faults.silent = true;
        else if (option == "--late" && hasValue) {
            const std::string value = argv[++i];
            faults.lateMs = std::atoi(value.c_str());
            const size_t colon = value.find(':');
            faults.lateTimes = colon == std::string::npos ? 0 : std::atoi(value.c_str() + colon + 1);
        } else if (option == "--unplug-after" && hasValue)
            faults.unplugAfter = std::atol(argv[++i]);
        else if (option == "--report-descriptor")
            return std::fwrite(reportDescriptor, 1, sizeof reportDescriptor, stdout) == sizeof reportDescriptor ? 0 : 1;
        else
            return Usage();
    }
    if (statePath.empty())
        return Usage();

    Converter converter(statePath);
    if (!converter.Load())
        return 1;

    struct sigaction action {};
    action.sa_handler = OnSignal;
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGINT, &action, nullptr);

    const bool gadget = !gadgetPath.empty();
    const char *const devicePath = gadget ? gadgetPath.c_str() : "/dev/uhid";
    const int uhid = open(devicePath, O_RDWR | O_CLOEXEC);
    if (uhid < 0)
        return OpenFailed(devicePath);
    // Read and write, so the FIFO never reports end of file between writers.
    const int control = controlPath.empty() ? -1 : open(controlPath.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
    if (!controlPath.empty() && control < 0)
        return OpenFailed(controlPath.c_str());
    if (!gadget && !Create(uhid, name)) {
        std::fprintf(stderr, "zyr-uhid-converter: creating the device failed: %s\n", std::strerror(errno));
        return 1;
    }

    std::deque<Reply> replies;
    std::string controlText;
    bool started = false, unplug = false;
    if (gadget)
        AnnounceReady(started);
    while (!stopRequested && !unplug) {
        int waitMs = -1;
        if (!replies.empty()) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(replies.front().due - Clock::now());
            waitMs = left.count() < 0 ? 0 : static_cast<int>(left.count()) + 1;
        }
        pollfd fds[2] = {{uhid, POLLIN, 0}, {control, POLLIN, 0}};
        const int ready = poll(fds, control >= 0 ? 2 : 1, waitMs);
        if (ready < 0 && errno != EINTR)
            break;
        // Replies that are due go out in order.
        while (!replies.empty() && replies.front().due <= Clock::now()) {
            if (gadget) {
                // An input report, payload only: the gadget has no report IDs.
                if (write(uhid, replies.front().payload, ZYR_REPORT_PAYLOAD) != ZYR_REPORT_PAYLOAD)
                    std::fprintf(stderr, "zyr-uhid-converter: reply lost: %s\n", std::strerror(errno));
                replies.pop_front();
                continue;
            }
            uhid_event event{};
            event.type = UHID_INPUT2;
            event.u.input2.size = ZYR_REPORT_PAYLOAD;
            std::memcpy(event.u.input2.data, replies.front().payload, ZYR_REPORT_PAYLOAD);
            replies.pop_front();
            WriteEvent(uhid, event);
        }
        if (ready <= 0)
            continue;
        if (control >= 0 && (fds[1].revents & POLLIN)) {
            char buffer[256];
            const ssize_t got = read(control, buffer, sizeof buffer);
            if (got > 0)
                controlText.append(buffer, static_cast<size_t>(got));
            for (size_t end; (end = controlText.find('\n')) != std::string::npos;) {
                const std::string line = controlText.substr(0, end);
                controlText.erase(0, end + 1);
                if (!Control(line, faults, unplug))
                    std::fprintf(stderr, "zyr-uhid-converter: unknown control line: %s\n", line.c_str());
            }
        }
        if (!(fds[0].revents & POLLIN))
            continue;
        uhid_event event{};
        const uint8_t *payload = event.u.output.data;
        size_t size = 0;
        if (gadget) {
            // An output report as the USB host sent it: the payload alone.
            const ssize_t got = read(uhid, event.u.output.data, sizeof event.u.output.data);
            if (got <= 0)
                continue;
            size = static_cast<size_t>(got);
        } else {
            if (read(uhid, &event, sizeof event) <= 0)
                continue;
            if (event.type == UHID_START && !started)
                AnnounceReady(started);
            if (event.type != UHID_OUTPUT)
                continue;
            // hidraw hands the report-ID byte (0) on in front of the payload.
            size = event.u.output.size;
        }
        if (size == ZYR_REPORT_LENGTH && payload[0] == 0)
            ++payload, --size;
        if (size < 3)
            continue;
        const uint8_t command = payload[0], address = payload[1], value = payload[2];
        // Removed as the write request comes: it is not stored.
        if (command == ZYR_COMMAND_WRITE_REGISTER && faults.unplugAfter == 0) {
            unplug = true;
            break;
        }
        if (command == ZYR_COMMAND_WRITE_REGISTER && faults.unplugAfter > 0)
            --faults.unplugAfter;
        if (command == ZYR_COMMAND_WRITE_REGISTER) {
            converter.registers.SetByte(address, value);
            if (!converter.Save())
                std::fprintf(stderr, "zyr-uhid-converter: %s could not be written\n", statePath.c_str());
        } else if (command == ZYR_COMMAND_READ_REGISTER && !faults.silent) {
            Reply reply{Clock::now(), {}};
            reply.payload[0] = command;
            reply.payload[1] = address;
            reply.payload[2] = converter.registers.Byte(address);
            // The rest of the report carries the registers after it, as the
            // converter's firmware fills it.
            for (int k = 0; k < ZYR_REPORT_PAYLOAD - 3; ++k)
                reply.payload[3 + k] = converter.registers.Byte(static_cast<uint8_t>(address + 1 + k));
            if (faults.lateMs > 0) {
                reply.due += std::chrono::milliseconds(faults.lateMs);
                if (faults.lateTimes > 0 && --faults.lateTimes == 0)
                    faults.lateMs = 0;
            }
            replies.push_back(reply);
        }
    }
    if (!gadget)
        Destroy(uhid);
    close(uhid);
    if (control >= 0)
        close(control);
    return 0;
}
