#include "link/UucpLock.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace {
std::string &FolderInUse()
{
    static std::string folder = [] {
        struct stat info = {};
        if (::stat("/run/lock", &info) == 0 && S_ISDIR(info.st_mode))
            return std::string("/run/lock");
        return std::string("/var/lock");
    }();
    return folder;
}

std::string FileContents(const std::string &path, bool *exists)
{
    std::ifstream in(path, std::ios::binary);
    *exists = bool(in);
    std::ostringstream text;
    if (in)
        text << in.rdbuf();
    return text.str().substr(0, 64);
}

// The command name of a running process, from /proc; empty when it cannot be read.
std::string ProgramOf(long pid)
{
    bool exists = false;
    std::string name = FileContents("/proc/" + std::to_string(pid) + "/comm", &exists);
    while (!name.empty() && (name.back() == '\n' || name.back() == '\0'))
        name.pop_back();
    return name;
}

bool Alive(long pid)
{
    // EPERM: the process is there, owned by another user.
    return pid > 0 && (::kill(pid_t(pid), 0) == 0 || errno == EPERM);
}

// Writes our lock file under a name of its own, then links it into place: link(2) fails when
// the lock exists, so two programs racing for the port cannot both win.
bool Create(const std::string &file, int *error)
{
    const std::string temporary = file + ".tarvik." + std::to_string(::getpid());
    const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) {
        *error = errno;
        return false;
    }
    char text[16];
    const int length = std::snprintf(text, sizeof text, "%10ld\n", long(::getpid()));
    const bool written = ::write(fd, text, size_t(length)) == length;
    ::close(fd);
    const bool linked = written && ::link(temporary.c_str(), file.c_str()) == 0;
    *error = written ? errno : EIO;
    ::unlink(temporary.c_str());
    return linked;
}
} // namespace

std::string UucpLock::SetFolder(const std::string &folder)
{
    std::string old = FolderInUse();
    FolderInUse() = folder;
    return old;
}

std::string UucpLock::Folder()
{
    return FolderInUse();
}

std::string UucpLock::LockFileFor(const std::string &devicePath)
{
    std::string name = devicePath;
    if (char *real = ::realpath(devicePath.c_str(), nullptr)) {
        name = real;
        std::free(real);
    }
    if (name.compare(0, 5, "/dev/") == 0)
        name.erase(0, 5);
    else if (const auto slash = name.find_last_of('/'); slash != std::string::npos)
        name.erase(0, slash + 1);
    for (char &c : name) {
        if (c == '/')
            c = '_';
    }
    return Folder() + "/LCK.." + name;
}

long UucpLock::OwnerOf(const std::string &contents)
{
    const bool text = contents.find_first_not_of(" 0123456789\r\n") == std::string::npos;
    if (contents.size() == 4 && !text) {
        // Binary: a native int, as some old tools wrote it.
        int pid = 0;
        std::memcpy(&pid, contents.data(), 4);
        return pid > 0 ? pid : 0;
    }
    std::size_t i = 0;
    while (i < contents.size() && contents[i] == ' ')
        ++i;
    long pid = 0;
    const std::size_t digits = i;
    for (; i < contents.size() && contents[i] >= '0' && contents[i] <= '9' && pid < 100000000; ++i)
        pid = pid * 10 + (contents[i] - '0');
    if (i == digits)
        return 0;
    // After the digits only blanks and the line end; anything else is not a lock file's text.
    for (; i < contents.size(); ++i) {
        if (contents[i] != '\n' && contents[i] != ' ' && contents[i] != '\r')
            return 0;
    }
    return pid;
}

namespace {
std::string Named(long pid, const std::string &more)
{
    const std::string program = ProgramOf(pid);
    return (program.empty() ? std::string("process") : program) + " (PID " + std::to_string(pid)
        + more + ")";
}

// Whether the open file behind /proc/PID/fd/N is the device (or file) device names.
bool SameNode(const std::string &fd, const struct stat &device)
{
    struct stat info = {};
    if (::stat(fd.c_str(), &info) != 0)
        return false;
    if (S_ISCHR(device.st_mode))
        return S_ISCHR(info.st_mode) && info.st_rdev == device.st_rdev;
    return info.st_dev == device.st_dev && info.st_ino == device.st_ino;
}

// The first process but this one with the node open; 0 when none is found.
long OpenedBy(const struct stat &device)
{
    DIR *processes = ::opendir("/proc");
    if (!processes)
        return 0;
    long found = 0;
    const long self = long(::getpid());
    while (const dirent *entry = ::readdir(processes)) {
        char *end = nullptr;
        const long pid = std::strtol(entry->d_name, &end, 10);
        if (pid <= 0 || *end != '\0' || pid == self)
            continue;
        const std::string folder = std::string("/proc/") + entry->d_name + "/fd";
        DIR *fds = ::opendir(folder.c_str());
        if (!fds)
            continue; // another user's process, or gone meanwhile
        while (const dirent *fd = ::readdir(fds)) {
            if (fd->d_name[0] != '.' && SameNode(folder + '/' + fd->d_name, device)) {
                found = pid;
                break;
            }
        }
        ::closedir(fds);
        if (found)
            break;
    }
    ::closedir(processes);
    return found;
}
} // namespace

std::string UucpLock::HolderOf(const std::string &devicePath)
{
    const std::string file = LockFileFor(devicePath);
    bool exists = false;
    const long owner = OwnerOf(FileContents(file, &exists));
    if (exists && owner != long(::getpid()) && Alive(owner))
        return Named(owner, ", lock file " + file);
    struct stat device = {};
    if (::stat(devicePath.c_str(), &device) != 0)
        return std::string();
    const long pid = OpenedBy(device);
    return pid > 0 ? Named(pid, std::string()) : std::string();
}

std::string UucpLock::FlockHolderOf(const std::string &lockFile)
{
    struct stat file = {};
    if (::stat(lockFile.c_str(), &file) != 0)
        return std::string();
    // Lines such as "1: FLOCK  ADVISORY  WRITE 4242 08:01:131090 0 EOF"; waiters ("1: -> FLOCK")
    // hold nothing.
    std::ifstream locks("/proc/locks");
    std::string line;
    while (std::getline(locks, line)) {
        std::istringstream fields(line);
        std::string number, kind, advisory, mode, node;
        long pid = 0;
        if (!(fields >> number >> kind >> advisory >> mode >> pid >> node) || kind != "FLOCK")
            continue;
        unsigned major = 0, minor = 0;
        unsigned long long inode = 0;
        if (std::sscanf(node.c_str(), "%x:%x:%llu", &major, &minor, &inode) != 3)
            continue;
        if (inode == file.st_ino && major == ::major(file.st_dev) && minor == ::minor(file.st_dev)
            && pid != long(::getpid()))
            return Named(pid, ", lock file " + lockFile);
    }
    return std::string();
}

bool UucpLock::Acquire(const std::string &devicePath, std::string *refusal)
{
    Release();
    const std::string file = LockFileFor(devicePath);
    for (int attempt = 0; attempt < 3; ++attempt) {
        bool exists = false;
        const long owner = OwnerOf(FileContents(file, &exists));
        if (exists) {
            if (owner == long(::getpid()))
                return true; // ours (another port object of this program): the flock decides
            if (Alive(owner)) {
                *refusal = devicePath
                    + ": port in use by another program: " + Named(owner, ", lock file " + file);
                return false;
            }
            // A dead owner's lock, or a garbled one: stale, removed as the other tools do.
            if (::unlink(file.c_str()) != 0 && errno != ENOENT)
                return true; // not ours to remove (the folder's rights): go on without one
        }
        int error = 0;
        if (Create(file, &error)) {
            m_file = file;
            return true;
        }
        // EEXIST: another program took it just now, look again. Anything else is a folder we
        // may not write (or none): the flock on the device still keeps our own kind off.
        if (error != EEXIST)
            return true;
    }
    return true;
}

void UucpLock::Release()
{
    if (m_file.empty())
        return;
    bool exists = false;
    if (OwnerOf(FileContents(m_file, &exists)) == long(::getpid()))
        ::unlink(m_file.c_str());
    m_file.clear();
}
