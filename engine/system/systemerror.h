#pragma once
// A failure of a system call as the engine reports it: the errno, and
// whether it concerns a folder on the way rather than the file itself (a
// missing folder is told apart from a missing file).
#include <string>
#include <system_error>

struct SystemError : std::system_error {
    SystemError(int error, const std::string& what, bool aboutFolder = false)
        : std::system_error(error, std::generic_category(), what), aboutFolder(aboutFolder) {}
    bool aboutFolder;
};
