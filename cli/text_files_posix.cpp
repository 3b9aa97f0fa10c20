// zyrctl's files on Linux and other POSIX systems: the same promises as on
// Windows (text_files.h), made with open(2), fsync(2) and rename(2).
#include "cli/text_files.h"

#include "cli/file_outcomes.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace {

std::string ErrorText(int error) { return std::strerror(error); }

// Closes the descriptor on every path out.
struct FileDescriptor {
    int fd;
    ~FileDescriptor()
    {
        if (fd >= 0)
            close(fd);
    }
};

// A new, empty file beside `path` that no other program has.
int CreateTemporaryBeside(const std::string &path, std::string &name, int &error)
{
    name = FolderOf(path) + "zyrXXXXXX.tmp";
    const int fd = mkstemps(&name[0], 4);
    error = fd < 0 ? errno : 0;
    return fd;
}

bool WriteAll(int fd, const std::string &text)
{
    size_t done = 0;
    while (done < text.size()) {
        const ssize_t wrote = write(fd, text.data() + done, text.size() - done);
        if (wrote < 0 && errno == EINTR)
            continue;
        if (wrote <= 0)
            return false;
        done += static_cast<size_t>(wrote);
    }
    return true;
}

// Removes the temporary file of a write that failed for `error`.
Outcome WriteFailed(const std::string &temporary, const std::string &path, int error)
{
    unlink(temporary.c_str());
    return FileStepFailed(FileStep::write, path, ErrorText(error));
}

}  // namespace

bool FileExists(const std::string &path)
{
    struct stat status;
    return lstat(path.c_str(), &status) == 0;
}

std::string FolderOf(const std::string &path)
{
    const size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

Outcome ReadTextFile(const std::string &path, size_t maxSize, std::string &text)
{
    FileDescriptor file{open(path.c_str(), O_RDONLY | O_CLOEXEC)};
    if (file.fd < 0)
        return FileStepFailed(FileStep::open, path, ErrorText(errno));
    struct stat status;
    if (fstat(file.fd, &status) != 0)
        return FileStepFailed(FileStep::read, path, ErrorText(errno));
    if (S_ISDIR(status.st_mode))
        return FileStepFailed(FileStep::read, path, ErrorText(EISDIR));
    if (static_cast<unsigned long long>(status.st_size) > maxSize)
        return FileTooLarge(path, status.st_size, maxSize);
    // Read to the end, whatever the size said: a pipe or a growing file.
    std::string content;
    char buffer[4096];
    for (;;) {
        const ssize_t got = read(file.fd, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            return FileStepFailed(FileStep::read, path, ErrorText(errno));
        if (got == 0)
            break;
        content.append(buffer, static_cast<size_t>(got));
        if (content.size() > maxSize)
            return Outcome::Fail(exitFile, path + " is more than " + std::to_string(maxSize) +
                                               " bytes long, more than such a file can be");
    }
    text.swap(content);
    return Outcome::Success();
}

Outcome WriteFileAtomically(const std::string &path, const std::string &text, bool force, bool flush)
{
    if (!force && FileExists(path))
        return FileExistsRefusal(path);
    std::string temporary;
    int created = 0;
    {
        FileDescriptor file{CreateTemporaryBeside(path, temporary, created)};
        if (file.fd < 0)
            return FileStepFailed(FileStep::createTemporary, path, ErrorText(created));
        // A backup is for the user to read: the usual permissions, not mkstemp's 0600.
        const mode_t mask = umask(0);
        umask(mask);
        fchmod(file.fd, 0666 & ~mask);
        if (!WriteAll(file.fd, text) || (flush && fsync(file.fd) != 0))
            return WriteFailed(temporary, path, errno);
    }
    // Without --force the new name is linked, never replaced: a file that
    // appeared meanwhile is kept.
    if (!force) {
        const int linked = link(temporary.c_str(), path.c_str());
        const int error = errno;
        unlink(temporary.c_str());
        if (linked == 0)
            return Outcome::Success();
        if (error == EEXIST)
            return FileExistsRefusal(path);
        return FileStepFailed(FileStep::write, path, ErrorText(error));
    }
    if (rename(temporary.c_str(), path.c_str()) != 0)
        return WriteFailed(temporary, path, errno);
    return Outcome::Success();
}
