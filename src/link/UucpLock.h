#pragma once

#include <string>

// The lock files many Linux serial tools share a port by: /run/lock/LCK..ttyUSB0 holding the
// owner's process id as ten characters and a newline. SerialDevice's POSIX half takes one
// while it holds a port: a live owner's file refuses the port (its PID and program name in the
// reason), a dead owner's or a garbled one is removed, and one of ours is made where the lock
// folder is writable (where it is not, the port's flock alone guards it). No Qt.
class UucpLock
{
public:
    UucpLock() = default;
    ~UucpLock() { Release(); }
    UucpLock(const UucpLock &) = delete;
    UucpLock &operator=(const UucpLock &) = delete;

    // Takes the lock for devicePath (a symbolic link counts as the device it names). False
    // with the reason when another live process holds it.
    bool Acquire(const std::string &devicePath, std::string *refusal);
    // Removes the file this object made, if it still holds our process id.
    void Release();
    // The file that stands for devicePath: the lock folder, "LCK..", the device's name under
    // /dev with "/" as "_" (LCK..ttyUSB0, LCK..pts_3).
    static std::string LockFileFor(const std::string &devicePath);
    // The lock folder: /run/lock (else /var/lock); tests put their own. Returns the old one.
    static std::string SetFolder(const std::string &folder);
    static std::string Folder();
    // Who holds devicePath, for a refusal: "NAME (PID n, lock file F)" from a live owner's lock
    // file, else "NAME (PID n)" for the first other process that has the device open (its
    // descriptors under /proc); empty when neither tells (another user's processes are not
    // readable).
    static std::string HolderOf(const std::string &devicePath);
    // Who holds an flock on lockFile (the kernel's /proc/locks): "NAME (PID n, lock file F)";
    // empty when no other process holds it or the table cannot be read.
    static std::string FlockHolderOf(const std::string &lockFile);
    // The process id a lock file holds (ten-character text, or a 4-byte binary one from old
    // tools); 0 for an empty or garbled file.
    static long OwnerOf(const std::string &contents);

private:
    std::string m_file; // the file we made; empty when we hold none
};
