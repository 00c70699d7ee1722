#include "sys/libutils/settingssource.h"

#include <cerrno>
#include <cstdlib>
#include <mutex>
#include <strings.h>

namespace ts { namespace sys {

namespace {

class BuiltInDefaults : public ISettingsSource {
public:
    SettingsSnapshot snapshot(const std::string&, bool) override { return {}; }
};

std::mutex& sourceLock()
{
    static std::mutex lock;
    return lock;
}

std::shared_ptr<ISettingsSource>& installed()
{
    static std::shared_ptr<ISettingsSource> source = std::make_shared<BuiltInDefaults>();
    return source;
}

std::shared_ptr<ISettingsSource> current()
{
    std::lock_guard<std::mutex> guard(sourceLock());
    return installed();
}

} // namespace

ISettingsSource& settingsSource()
{
    return *current();
}

std::shared_ptr<ISettingsSource> setSettingsSource(std::shared_ptr<ISettingsSource> source)
{
    if (!source)
        source = std::make_shared<BuiltInDefaults>();
    std::lock_guard<std::mutex> guard(sourceLock());
    std::swap(installed(), source);
    return source;
}

std::string readSetting(const std::string& path, bool includeUser, const std::string& name,
                        const std::string& fallback)
{
    try {
        std::shared_ptr<ISettingsSource> source = current();
        SettingsSnapshot snapshot = source->snapshot(path, includeUser);
        auto it = snapshot.find(name);
        if (it == snapshot.end() || !it->second.isLeaf)
            return fallback;
        return it->second.value;
    } catch (...) {
        return fallback;
    }
}

bool parseIntSetting(const std::string& text, long& value)
{
    if (text.empty())
        return false;
    errno = 0;
    char* end = nullptr;
    long parsed = strtol(text.c_str(), &end, 0);
    if (errno != 0 || !end || *end != '\0')
        return false;
    value = parsed;
    return true;
}

bool parseBoolSetting(const std::string& text, bool& value)
{
    for (const char* yes : {"1", "true", "yes", "on"})
        if (strcasecmp(text.c_str(), yes) == 0)
            return value = true;
    for (const char* no : {"0", "false", "no", "off"})
        if (strcasecmp(text.c_str(), no) == 0)
            return !(value = false);
    return false;
}

long readIntSetting(const std::string& path, bool includeUser, const std::string& name, long fallback)
{
    long value = fallback;
    return parseIntSetting(readSetting(path, includeUser, name, ""), value) ? value : fallback;
}

bool readBoolSetting(const std::string& path, bool includeUser, const std::string& name, bool fallback)
{
    bool value = fallback;
    return parseBoolSetting(readSetting(path, includeUser, name, ""), value) ? value : fallback;
}

}} // namespace ts::sys
