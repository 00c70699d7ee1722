#include "sys/libutils/win32/registrydatastore.h"

#include "sys/libutils/win32/security.h"

namespace ts { namespace sys { namespace option {

RegistryDataStore::RegistryDataStore(const std::string& component, bool includeUser)
    : RegistryDataStore(std::make_unique<PersistTree>(component, false), includeUser,
                        "HKEY_CURRENT_USER\\Software\\Tessaline\\" + component)
{
}

RegistryDataStore::RegistryDataStore(std::unique_ptr<PersistTree> tree, bool includeUser, std::string userKeyName)
    : m_includeUser(includeUser), m_tree(std::move(tree)), m_userKeyName(std::move(userKeyName))
{
    reload();
}

RegistryDataStore::~RegistryDataStore() = default;

void RegistryDataStore::reload()
{
    m_children.clear();
    try {
        m_tree->loadSnapshot(m_machine, PersistMachine);
    } catch (const PersistException&) {
        m_machine.clear();
    }
    m_user.clear();
    if (m_includeUser) {
        try {
            m_tree->loadSnapshot(m_user, PersistUser);
        } catch (const PersistException&) {
            m_user.clear();
        }
    }
}

std::pair<int32_t, std::string> RegistryDataStore::read(const std::string& key)
{
    if (m_includeUser && m_user.isLeaf(key)) {
        if (scopeMaySupply(win32::isPrivilegedProcess(), PersistUser, key))
            return {UserScope, m_user.getValue(key)};
        noteIgnoredSetting(m_userKeyName, key);
    }
    if (m_machine.isLeaf(key))
        return {MachineScope, m_machine.getValue(key)};
    return {NoValue, ""};
}

void RegistryDataStore::write(const std::string& key, const std::string& text, int32_t origin)
{
    if (origin != Savable)
        return;
    snapshotInUse().setValue(key, text);
    try {
        m_tree->saveSnapshot(snapshotInUse(), scopeInUse());
    } catch (const PersistException&) {
    }
}

void RegistryDataStore::remove(const std::string& key)
{
    try {
        m_tree->removeEntry(key, scopeInUse(), false);
    } catch (const PersistException&) {
    }
    snapshotInUse().erase(key);
    m_children.erase(key);
}

DataStore* RegistryDataStore::getChild(const std::string& name, bool create)
{
    auto cached = m_children.find(name);
    if (cached != m_children.end())
        return cached->second.get();
    if (!m_user.isBranch(name) && !m_machine.isBranch(name)) {
        if (!create)
            return nullptr;
        snapshotInUse()[name] = PersistNode{false, ""};
    }
    std::unique_ptr<RegistryDataStore> child(new RegistryDataStore(m_tree->child(name), m_includeUser, m_userKeyName + "\\" + name));
    RegistryDataStore* raw = child.get();
    m_children[name] = std::move(child);
    return raw;
}

void RegistryDataStore::getValueNames(std::vector<std::string>& names)
{
    for (const PersistSnapshot* snapshot : {&m_user, &m_machine})
        for (const auto& entry : *snapshot)
            if (entry.second.isLeaf)
                names.push_back(entry.first);
}

void RegistryDataStore::getChildNames(std::vector<std::string>& names)
{
    for (const PersistSnapshot* snapshot : {&m_user, &m_machine})
        for (const auto& entry : *snapshot)
            if (!entry.second.isLeaf)
                names.push_back(entry.first);
}

void loadSetting(Option& option, const std::string& component, bool includeUser)
{
    try {
        RegistryDataStore store(component, includeUser);
        option.load(store);
    } catch (...) {
    }
}

}}} // namespace ts::sys::option
