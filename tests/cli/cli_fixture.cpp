#include "tests/cli/cli_fixture.h"

#include "cli/backup_file.h"
#include "cli/zyrctl.h"

#include <windows.h>

#include <fstream>
#include <sstream>

CliFixture::CliFixture() : converter(bus.AddConverter())
{
    char temp[MAX_PATH] = {};
    GetTempPathA(sizeof temp, temp);
    char unique[MAX_PATH] = {};
    GetTempFileNameA(temp, "zct", 0, unique);  // creates the file: take its name for a folder
    DeleteFileA(unique);
    CreateDirectoryA(unique, nullptr);
    folder = std::string(unique) + "\\";
    char current[MAX_PATH] = {};
    GetCurrentDirectoryA(sizeof current, current);
    previousFolder = current;
    SetCurrentDirectoryA(unique);
}

CliFixture::~CliFixture()
{
    SetCurrentDirectoryA(previousFolder.c_str());
    for (const std::string &name : FilesStartingWith(""))
        DeleteFileA((folder + name).c_str());
    RemoveDirectoryA(folder.c_str());
}

CliRun CliFixture::Run(const std::vector<std::string> &args, bool console, const std::string &answer)
{
    std::vector<const char *> argv{"zyrctl"};
    for (const std::string &arg : args)
        argv.push_back(arg.c_str());
    std::istringstream in(answer);
    std::ostringstream out, err;
    const ZyrctlConsole streams{in, out, err, console, errorIsConsole};
    CliRun run;
    run.code = ZyrctlMain(static_cast<int>(argv.size()), argv.data(), streams);
    run.out = out.str();
    run.err = err.str();
    return run;
}

void CliFixture::WriteText(const std::string &name, const std::string &text) const
{
    std::ofstream(Path(name), std::ios::binary) << text;
}

std::string CliFixture::ReadText(const std::string &path) const
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

std::vector<std::string> CliFixture::FilesStartingWith(const std::string &prefix) const
{
    std::vector<std::string> names;
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((folder + prefix + "*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE)
        return names;
    do {
        if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
            names.push_back(found.cFileName);
    } while (FindNextFileA(search, &found));
    FindClose(search);
    return names;
}

void CliFixture::WriteBackup(const std::string &name, const Registers &registers) const
{
    WriteText(name, FormatBackupFile(ImageOf(registers), "2026-12-08T10:00:00Z"));
}

std::vector<int> CliFixture::WrittenAddresses() const
{
    std::vector<int> addresses;
    for (const sim::Transfer &transfer : bus.Traffic())
        if (transfer.toDevice && transfer.bytes[1] == 1)
            addresses.push_back(transfer.bytes[2]);
    return addresses;
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
