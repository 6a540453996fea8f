#include "serial/DeviceIdentity.h"

#include <climits>
#include <cstdlib>

#include <sys/stat.h>

std::string deviceKey (const std::string& name)
{
    struct stat status {};
    if (::stat (name.c_str(), &status) == 0 && S_ISCHR (status.st_mode))
        return "dev:" + std::to_string ((unsigned long long) status.st_rdev);

    // No device behind it (yet): the resolved path still joins a link to its target.
    char resolved[PATH_MAX];
    if (::realpath (name.c_str(), resolved) != nullptr)
        return std::string ("path:") + resolved;
    return "name:" + name;
}
