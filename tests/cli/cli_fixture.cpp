#include "tests/cli/cli_fixture.h"

#include "settings/backup_file.h"
#include "cli/wide_names.h"
#include "cli/zyrctl.h"
#include "tests/support/child_process.h"
#include "tests/support/portable_checks.h"
#include "tests/support/temp_folder.h"

#include <windows.h>

#include <doctest.h>

#include <sstream>

namespace {

// Wine's own translation of a Windows name to the Linux one and back; the
// strings it returns are the process heap's.
template <typename Function> Function WineNameCall(const char *name)
{
    const auto call =
        reinterpret_cast<Function>(reinterpret_cast<void *>(GetProcAddress(GetModuleHandleA("kernel32.dll"), name)));
    REQUIRE_MESSAGE(bool(call), "not running under Wine");
    return call;
}

template <typename Char> std::basic_string<Char> TakeHeapString(Char *text, const std::string &from)
{
    REQUIRE_MESSAGE(text != nullptr, "no other name for ", from);
    std::basic_string<Char> taken = text;
    HeapFree(GetProcessHeap(), 0, text);
    return taken;
}

std::string UnixName(const std::string &path)
{
    const auto toUnix = WineNameCall<char *(CDECL *)(const wchar_t *)>("wine_get_unix_file_name");
    return TakeHeapString(toUnix(FileSystemName(path).c_str()), path);
}

std::string DosName(const char *unixPath)
{
    const auto toDos = WineNameCall<wchar_t *(CDECL *)(const char *)>("wine_get_dos_file_name");
    const std::wstring dos = TakeHeapString(toDos(unixPath), unixPath);
    return Utf8FromUtf16(dos);
}

}  // namespace

CliFixture::CliFixture() : converter(bus.AddConverter()), temp("zct"), folder(temp.Path())
{
    char current[MAX_PATH] = {};
    GetCurrentDirectoryA(sizeof current, current);
    previousFolder = current;
    SetCurrentDirectoryA(folder.c_str());
}

CliFixture::~CliFixture()
{
    SetCurrentDirectoryA(previousFolder.c_str());
    // Names zyrctl made may be longer than MAX_PATH: removed here by their
    // long form, before the temporary folder's own removal finds it gone.
    const std::wstring name = FileSystemName(folder.substr(0, folder.size() - 1));
    RemoveTree(name);
    CHECK_MESSAGE(GetFileAttributesW(name.c_str()) == INVALID_FILE_ATTRIBUTES, "left behind: ", folder);
}

CliRun CliFixture::RunAndCheck(const std::vector<std::string> &args, int code, const std::vector<std::string> &says)
{
    const std::string name = ArgumentLine(args);
    CAPTURE(name);
    const CliRun run = Run(args);
    CHECK_MESSAGE(run.code == code, run.out, run.err);
    for (const std::string &part : says)
        CHECK_MESSAGE(Contains(run.out + run.err, part), run.out, run.err);
    return run;
}

namespace {

// Standard input that runs `first` when it is first read, then gives `text`.
class AnswerAfter : public std::streambuf {
public:
    AnswerAfter(const std::string &text, const std::function<void()> &first) : text(text), first(first) {}

protected:
    int_type underflow() override
    {
        if (!started) {
            started = true;
            if (first)
                first();
            setg(&text[0], &text[0], &text[0] + text.size());
        }
        return gptr() < egptr() ? traits_type::to_int_type(*gptr()) : traits_type::eof();
    }

private:
    std::string text;
    std::function<void()> first;
    bool started = false;
};

}  // namespace

CliRun CliFixture::Run(const std::vector<std::string> &args, bool console, const std::string &answer,
                       const std::function<void()> &whileAsked)
{
    std::vector<const char *> argv{"zyrctl"};
    for (const std::string &arg : args)
        argv.push_back(arg.c_str());
    AnswerAfter input(answer, whileAsked);
    std::istream in(&input);
    std::ostringstream out, err;
    const ZyrctlConsole streams{in, out, err, console, errorIsConsole};
    CliRun run;
    run.code = ZyrctlMain(static_cast<int>(argv.size()), argv.data(), streams);
    run.out = out.str();
    run.err = err.str();
    return run;
}

std::string CliFixture::MakeFolder(const std::string &relative) const
{
    std::string path = folder;
    size_t start = 0;
    while (start < relative.size()) {
        size_t end = relative.find('\\', start);
        if (end == std::string::npos)
            end = relative.size();
        path += relative.substr(start, end - start) + "\\";
        const std::wstring name = FileSystemName(path.substr(0, path.size() - 1));
        REQUIRE_MESSAGE((CreateDirectoryW(name.c_str(), nullptr) || GetLastError() == ERROR_ALREADY_EXISTS),
                        "cannot make the folder ", path, " (", GetLastError(), ")");
        start = end + 1;
    }
    return path;
}

void CliFixture::WriteText(const std::string &name, const std::string &text) const
{
    HANDLE file = CreateFileW(FileSystemName(Path(name)).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    REQUIRE_MESSAGE(file != INVALID_HANDLE_VALUE, "cannot create ", Path(name));
    DWORD written = 0;
    const BOOL ok = WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
    CloseHandle(file);
    REQUIRE(ok);
}

std::string CliFixture::ReadText(const std::string &path) const
{
    std::string text;
    HANDLE file = CreateFileW(FileSystemName(path).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return text;
    char chunk[4096];
    DWORD read = 0;
    while (ReadFile(file, chunk, sizeof chunk, &read, nullptr) && read > 0)
        text.append(chunk, read);
    CloseHandle(file);
    return text;
}

std::vector<std::string> CliFixture::FilesStartingWith(const std::string &prefix, const std::string &in) const
{
    std::vector<std::string> names;
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW(FileSystemName((in.empty() ? folder : in) + prefix + "*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE)
        return names;
    do {
        if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
            names.push_back(Utf8FromUtf16(found.cFileName, wcslen(found.cFileName)));
    } while (FindNextFileW(search, &found));
    FindClose(search);
    return names;
}

std::vector<std::string> CliFixture::LinuxFiles() const
{
    // find(1) itself, started through Wine, prints the Linux names' bytes.
    // Wine gives a Linux program's process no exit code: the last line says
    // the listing is whole.
    const std::string listing = UnixName(folder) + "/";
    const std::string log = previousFolder + "\\zyr-linux-files.txt";
    const std::string end = "zyr-listing-end\n";
    std::vector<std::string> files;
    {
        ChildProcess find("\"" + DosName("/bin/sh") + "\" -c \"find '" + listing +
                              "' -type f -printf '%P\\n'; echo zyr-listing-end\"",
                          log);
        std::string text;
        for (int i = 0; i < 300 && (text.size() < end.size() || text.substr(text.size() - end.size()) != end); ++i) {
            Sleep(50);
            text = ReadText(log);
        }
        REQUIRE_MESSAGE(Contains(text, end), text);
    }
    std::istringstream lines(ReadText(log));
    DeleteFileW(FileSystemName(log).c_str());
    std::string line;
    while (std::getline(lines, line))
        if (line + "\n" != end)
            files.push_back(line);
    return files;
}

void CliFixture::WriteBackup(const std::string &name, const Registers &registers) const
{
    WriteText(name, FormatBackupFile(ImageOf(registers), "2026-12-08T10:00:00Z"));
}

Registers CliFixture::WriteChangedBackup(const std::string &name, int address, uint8_t value) const
{
    Registers changed = converter.Registers();
    changed[address] = value;
    WriteBackup(name, changed);
    return changed;
}

std::vector<int> CliFixture::WrittenAddresses() const
{
    std::vector<int> addresses;
    for (const sim::Transfer &transfer : bus.Traffic())
        if (transfer.toDevice && transfer.bytes[1] == 1)
            addresses.push_back(transfer.bytes[2]);
    return addresses;
}

std::string ArgumentLine(const std::vector<std::string> &args)
{
    std::string line;
    for (const std::string &arg : args)
        line += arg + " ";
    return line;
}

RegisterImage ImageOf(const Registers &registers)
{
    RegisterImage image;
    for (int i = 0; i < 256; ++i)
        image.SetByte(static_cast<uint8_t>(i), registers[i]);
    return image;
}

Registers RegistersOf(const RegisterImage &image)
{
    Registers registers{};
    for (int i = 0; i < 256; ++i)
        registers[i] = image.Byte(static_cast<uint8_t>(i));
    return registers;
}

std::vector<int> Differing(const Registers &a, const Registers &b)
{
    std::vector<int> addresses;
    for (int i = 0; i < 256; ++i)
        if (a[i] != b[i])
            addresses.push_back(i);
    return addresses;
}
