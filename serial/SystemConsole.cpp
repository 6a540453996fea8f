#include "serial/SystemConsole.h"

#include <filesystem>
#include <fstream>
#include <sstream>

namespace
{
    /** The tty's name ("ttyS0") for a device path, following links such as
        /dev/serial/by-id/... to the node they name. */
    std::string ttyNameOf (const std::string& devicePath)
    {
        std::error_code error;
        std::filesystem::path path = std::filesystem::canonical (devicePath, error);
        if (error)
            path = devicePath;
        return path.filename().string();
    }

    bool listedIn (const std::string& procConsoles, const std::string& name)
    {
        std::ifstream in (procConsoles);
        std::string line;
        while (std::getline (in, line))
        {
            std::istringstream words (line);
            std::string first;
            if (words >> first && first == name)
                return true;
        }
        return false;
    }

    bool consoleAttributeSet (const std::string& sysClassTty, const std::string& name)
    {
        std::ifstream in (sysClassTty + "/" + name + "/console");
        char flag = 0;
        return in.get (flag) && flag == 'Y';
    }
}

bool isSystemConsole (const std::string& devicePath, const std::string& procConsoles, const std::string& sysClassTty)
{
    const std::string name = ttyNameOf (devicePath);
    if (name.empty() || name == "." || name == "..")
        return false;
    return listedIn (procConsoles, name) || consoleAttributeSet (sysClassTty, name);
}
