// Options read from (and saved to) the settings of one component,
// Software\Tessaline\<component>: the machine scope, and the user scope first when
// `includeUser` is set, except for the values a privileged process takes from the machine
// scope only (isMachineOnlySetting). Registry errors never escape.
#pragma once
#include "sys/libutils/option.h"
#include "sys/libutils/win32/persisttreestate.h"

#include <map>
#include <memory>
#include <string>
#include <vector>

namespace ts { namespace sys { namespace option {

class RegistryDataStore : public DataStore {
public:
    RegistryDataStore(const std::string& component, bool includeUser);
    RegistryDataStore(const RegistryDataStore&) = delete;
    RegistryDataStore& operator=(const RegistryDataStore&) = delete;
    ~RegistryDataStore() override;

    DataStore* getChild(const std::string& name, bool create) override;
    void reload() override;
    void getValueNames(std::vector<std::string>& names) override;
    void getChildNames(std::vector<std::string>& names) override;
    // (3, text) from the user scope, (2, text) from the machine scope, else (0, ""). A
    // user-scope value that a privileged process ignores is noted (noteIgnoredSetting).
    std::pair<int32_t, std::string> read(const std::string& key) override;
    // Only an origin of 5 is written, into the scope in use.
    void write(const std::string& key, const std::string& text, int32_t origin) override;
    void remove(const std::string& key) override;

private:
    RegistryDataStore(std::unique_ptr<PersistTree> tree, bool includeUser, std::string userKeyName);
    int scopeInUse() const { return m_includeUser ? PersistUser : PersistMachine; }
    PersistSnapshot& snapshotInUse() { return m_includeUser ? m_user : m_machine; }

    bool m_includeUser;
    std::unique_ptr<PersistTree> m_tree;
    std::string m_userKeyName; // for the note on an ignored value
    PersistSnapshot m_machine;
    PersistSnapshot m_user;
    std::map<std::string, std::unique_ptr<RegistryDataStore>> m_children;
};

// Loads `option` from RegistryDataStore(component, includeUser). Never throws: a
// failure leaves the option's default.
void loadSetting(Option& option, const std::string& component, bool includeUser);

}}} // namespace ts::sys::option
