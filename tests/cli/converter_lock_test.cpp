// One ZYR program at a time on the converter: zyrctl run while another
// program (a thread of this test) holds the converter lock waits as long as
// --wait says, then gives up with exit 1 and nothing sent; a lock left by a
// program that ended is taken over; the lock is held from a command's first
// open to its last close, across every step in between.
#include "tests/cli/cli_fixture.h"

#include "cli/commands.h"
#include "tests/protocol/boundary_override.h"
#include "tests/support/lock_holder.h"
#include "tests/support/portable_checks.h"

#include <doctest.h>

#include <thread>

namespace {

const std::string busy = "zyrctl: another ZYR program is using the converter";

Registers BackupRegisters(const std::string &path)
{
    RegisterImage image;
    const Outcome loaded = LoadBackupFile(path, image);
    REQUIRE_MESSAGE(loaded.Ok(), loaded.message);
    return RegistersOf(image);
}

// What the lock's calls saw of the converter when they were made.
struct LockEvents {
    static inline sim::SimBus *bus = nullptr;
    static inline int takes = 0, releases = 0;
    static inline int opensAtTake = -1, opensAtRelease = -1, openAtRelease = -1;
    static inline size_t trafficAtTake = 0, trafficAtRelease = 0;
    static inline BoundaryOverride<DWORD(WINAPI *)(HANDLE, DWORD)> *wait;
    static inline BoundaryOverride<BOOL(WINAPI *)(HANDLE)> *release;

    static DWORD WINAPI Wait(HANDLE mutex, DWORD ms)
    {
        const DWORD woke = wait->Original()(mutex, ms);
        if (woke == WAIT_OBJECT_0 || woke == WAIT_ABANDONED) {
            ++takes;
            opensAtTake = bus->OpenHandlesTotal();
            trafficAtTake = bus->Traffic().size();
        }
        return woke;
    }
    static BOOL WINAPI Release(HANDLE mutex)
    {
        ++releases;
        opensAtRelease = bus->OpenHandlesTotal();
        openAtRelease = bus->OpenHandles();
        trafficAtRelease = bus->Traffic().size();
        return release->Original()(mutex);
    }
};

}  // namespace

TEST_CASE_FIXTURE(CliFixture, "another ZYR program on the converter: exit 1 after the wait, nothing sent; "
                              "commands that need no converter run; an abandoned lock is taken over")
{
    WriteBackup("saved.zyr", converter.Registers());
    WriteChangedBackup("changed.zyr", 6, 35);
    struct Row {
        std::vector<std::string> args;
        int code;
        std::vector<std::string> says;
        bool waitNote;  // the line saying it waits
    };
    const std::string waited0 = busy + " (waited 0 s); nothing was sent";
    const Row rows[] = {
        {{"--wait", "0", "info"}, 1, {waited0}, false},
        {{"--wait", "0.3", "backup", Path("new.zyr")}, 1, {busy + " (waited 0.3 s); nothing was sent"}, true},
        {{"--wait=0.2", "--quiet", "show"}, 1, {busy + " (waited 0.2 s); nothing was sent"}, false},
        {{"--wait", "0", "set", "speed=+1.0", "--yes"}, 1, {waited0}, false},
        {{"--wait", "0", "restore", Path("changed.zyr"), "--yes"}, 1, {waited0}, false},
        {{"--wait", "0", "table", "ap1-res"}, 1, {waited0}, false},
        {{"--wait", "0", "diff", Path("saved.zyr"), "device"}, 1, {waited0}, false},
        // Nothing of these reaches the converter: no lock, no wait.
        {{"--wait", "0", "diff", Path("saved.zyr"), Path("changed.zyr")}, 5, {"speed adjustment"}, false},
        {{"--wait", "0", "show", Path("saved.zyr")}, 0, {"1.23.00"}, false},
        {{"calc", "gps", "100", "96"}, 0, {"-4.0 %"}, false},
    };
    const Registers before = converter.Registers();
    LockHolder other;
    for (const Row &row : rows) {
        bus.ClearTraffic();
        const int opensBefore = bus.OpenHandlesTotal();
        const CliRun run = RunAndCheck(row.args, row.code, row.says);
        CAPTURE(run.err);  // names the row for the checks below
        CHECK(Contains(run.err, "waiting up to") == row.waitNote);
        // Not even the device search ran.
        CHECK(bus.Traffic().empty());
        CHECK(bus.OpenHandlesTotal() == opensBefore);
        CHECK(converter.Registers() == before);
    }
    CHECK(FilesStartingWith("new").empty());
    CHECK(FilesStartingWith("zyr-before").empty());

    // The other program ends without letting go: the next command takes
    // over, and says the converter may be half-written and how to check,
    // even when quiet; a command after it finds a lock let go and says nothing.
    other.Abandon();
    CliRun run = Run({"--wait", "0", "--quiet", "backup", Path("new.zyr")});
    CHECK_MESSAGE(run.code == 0, run.err);
    CHECK_MESSAGE(Contains(run.err, "ended without letting go of it, perhaps in the middle of a write, so the "
                                    "converter may be half-written"),
                  run.err);
    CHECK(Contains(run.err, "zyrctl diff BACKUP.zyr device"));
    CHECK(Contains(run.err, "zyrctl restore zyr-before-"));
    CHECK(BackupRegisters(Path("new.zyr")) == before);
    CHECK(ConverterLockFree());
    run = Run({"--wait", "0", "backup", Path("next.zyr")});
    CHECK_MESSAGE(run.code == 0, run.err);
    CHECK_FALSE(Contains(run.err, "half-written"));
}

TEST_CASE_FIXTURE(CliFixture, "zyrctl waits while another ZYR program finishes, then runs")
{
    LockHolder other;
    std::thread finishing([&] {
        Sleep(400);
        other.Release();
    });
    const DWORD start = GetTickCount();
    const CliRun run = Run({"--wait", "30", "backup", Path("later.zyr")});
    const DWORD took = GetTickCount() - start;
    finishing.join();
    CHECK_MESSAGE(run.code == 0, run.err);
    CHECK(Contains(run.err, "zyrctl: another ZYR program is using the converter; waiting up to 30 s..."));
    CHECK(took >= 300);  // it did wait for the other program
    CHECK(BackupRegisters(Path("later.zyr")) == converter.Registers());
}

TEST_CASE_FIXTURE(CliFixture, "the lock is held from a command's first open to its last close, and let go after")
{
    BoundaryOverride<DWORD(WINAPI *)(HANDLE, DWORD)> wait(&DeviceSyscalls::WaitForMutex, LockEvents::Wait);
    BoundaryOverride<BOOL(WINAPI *)(HANDLE)> release(&DeviceSyscalls::ReleaseMutex, LockEvents::Release);
    LockEvents::bus = &bus;
    LockEvents::wait = &wait;
    LockEvents::release = &release;
    // set reads the converter, writes its backup, writes the changed
    // registers and reads them all back: three opens under one hold.
    for (const std::vector<std::string> &args :
         {std::vector<std::string>{"set", "speed=+3.5", "--yes"}, {"backup", Path("one.zyr")}, {"info"}}) {
        CAPTURE(args.front());
        LockEvents::takes = LockEvents::releases = 0;
        bus.ClearTraffic();
        const int opensBefore = bus.OpenHandlesTotal();
        const CliRun run = Run(args);
        CHECK_MESSAGE(run.code == 0, run.err);
        CHECK(LockEvents::takes == 1);
        CHECK(LockEvents::releases == 1);
        CHECK(LockEvents::opensAtTake == opensBefore);  // taken before the device search
        CHECK(LockEvents::trafficAtTake == 0);
        CHECK(LockEvents::openAtRelease == 0);  // let go after the last close
        CHECK(LockEvents::opensAtRelease == bus.OpenHandlesTotal());
        CHECK(LockEvents::trafficAtRelease == bus.Traffic().size());
        CHECK(ConverterLockFree());
    }
    CHECK(converter.Register(6) == 35);
    CHECK_FALSE(ConverterLockExists());  // no handle on it left open
}

TEST_CASE_FIXTURE(CliFixture, "the lock cannot be made: exit 1 with the system's error, nothing sent")
{
    struct Refused {
        static HANDLE WINAPI Create(LPSECURITY_ATTRIBUTES, LPCSTR, DWORD, DWORD)
        {
            SetLastError(ERROR_ACCESS_DENIED);
            return nullptr;
        }
    };
    BoundaryOverride<HANDLE(WINAPI *)(LPSECURITY_ATTRIBUTES, LPCSTR, DWORD, DWORD)> create(
        &DeviceSyscalls::CreateMutexExA, Refused::Create);
    bus.ClearTraffic();
    const CliRun run = Run({"backup", Path("none.zyr")});
    CHECK(run.code == 1);
    CHECK_MESSAGE(Contains(run.err, "zyrctl: the lock that keeps other ZYR programs off the converter could not be "
                                    "taken (system error 5); nothing was sent"),
                  run.err);
    CHECK(bus.Traffic().empty());
    CHECK(bus.OpenHandlesTotal() == 0);
    CHECK(FilesStartingWith("none").empty());
}
