// Where the foundation reads its settings from: the logger configuration, the assertion
// behaviour, the debug location and the dump-file naming. The persistent settings tree
// installs the registry-backed source; until one is installed every read gives an empty
// snapshot, so the callers use their built-in defaults.
#pragma once
#include <map>
#include <memory>
#include <string>

namespace ts { namespace sys {

struct SettingsEntry {
    bool isLeaf = true; // a value; false for a sub-key
    std::string value;
};
// The values and sub-key names of one key, ordered by name.
using SettingsSnapshot = std::map<std::string, SettingsEntry>;

class ISettingsSource {
public:
    virtual ~ISettingsSource() = default;
    // The key `Software\Tessaline\<path>`: the per-user scope when `includeUser` is set
    // and that scope holds any entry of the key, else the machine scope. Empty when the
    // key is absent. May throw when the store fails; callers then use their defaults.
    virtual SettingsSnapshot snapshot(const std::string& path, bool includeUser) = 0;
};

// The process-wide source (never null).
ISettingsSource& settingsSource();
// Installs `source`; null restores the built-in defaults. Returns the previous one.
std::shared_ptr<ISettingsSource> setSettingsSource(std::shared_ptr<ISettingsSource> source);

// Typed reads that never throw. The text of a value, or `fallback` when it is missing,
// not a value or the store fails.
std::string readSetting(const std::string& path, bool includeUser, const std::string& name,
                        const std::string& fallback);
// A decimal (or 0x hexadecimal) integer; `fallback` when missing or not a number.
long readIntSetting(const std::string& path, bool includeUser, const std::string& name, long fallback);
// "1"/"true"/"yes"/"on" (any case) are true, "0"/"false"/"no"/"off" false, else `fallback`.
bool readBoolSetting(const std::string& path, bool includeUser, const std::string& name, bool fallback);

// Value parsers shared with the readers above.
bool parseIntSetting(const std::string& text, long& value);
bool parseBoolSetting(const std::string& text, bool& value);

}} // namespace ts::sys
