// Win32 only: the persistent settings tree over the ANSI registry functions.
#include "sys/libutils/win32/persisttreestate.h"

#include "sys/libutils/exception.h"
#include "sys/libutils/logger.h"
#include "sys/libutils/win32/keyhandle.h"
#include "sys/libutils/win32/registry.h"
#include "sys/libutils/win32/security.h"
#include "sys/libutils/win32/session.h"

#include <shlwapi.h>
#include <atomic>
#include <cstdlib>

namespace ts { namespace sys {

namespace {

const REGSAM kReadAccess = KEY_READ;                                   // 0x20019
const REGSAM kWriteAccess = KEY_READ | KEY_SET_VALUE | KEY_CREATE_SUB_KEY; // 0x2001F
const REGSAM kDeleteAccess = KEY_WRITE | DELETE;                       // 0x30006
const DWORD kNameLength = 256;

const Logger::Logged& persistLog()
{
    struct PersistLog : Logger::Logged {
        PersistLog() : Identity("PersistRegAccess", ""), Logged(Logger::instance(), "PersistRegAccess", "") {}
    };
    static PersistLog log;
    return log;
}

std::string lastErrorText(DWORD error)
{
    std::wstring text = windowsErrorText(error);
    std::string narrow;
    for (wchar_t c : text)
        narrow += c < 0x80 ? static_cast<char>(c) : '?';
    return narrow;
}

// The impersonator of the user scope, for one operation. A failed impersonation leaves
// the thread as it is, so the account Setup runs as is used.
std::unique_ptr<win32::UserImpersonator> impersonate(win32::UserImpersonatorFactory* factory)
{
    try {
        if (factory)
            return factory->createImpersonator();
        win32::LoggedOnUserImpersonatorFactory loggedOn;
        return loggedOn.createImpersonator();
    } catch (...) {
        return nullptr;
    }
}

void checkScope(int scope)
{
    if (scope != PersistMachine && scope != PersistUser && scope != PersistNetwork)
        throw PersistBadFlags();
}

[[noreturn]] void throwNotWritable(int scope, const std::vector<std::string>& localPath,
                                   const std::vector<std::string>& networkPath, DWORD error)
{
    TS_LOG(persistLog(), LogLevel::Error)
        << "Failed to open reg key " << describeKey(scope, localPath, networkPath) << " for writing. "
        << "Error Code : " << lastErrorText(error);
    throw PersistBadAccess();
}

// Writes the leaf entries as REG_SZ, without a NUL; `failed(name, status)` hears of each
// value that could not be written.
template <typename Failed>
void writeLeaves(HKEY key, const PersistSnapshot& snapshot, Failed failed)
{
    for (const auto& entry : snapshot) {
        if (!entry.second.isLeaf)
            continue;
        const std::string& value = entry.second.value;
        LONG status = RegSetValueExA(key, entry.first.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(value.data()),
                                     static_cast<DWORD>(value.size()));
        if (status != ERROR_SUCCESS)
            failed(entry.first, status);
    }
}

} // namespace

// ---- snapshot ------------------------------------------------------------------------

bool PersistSnapshot::isLeaf(const std::string& name) const
{
    auto it = find(name);
    return it != end() && it->second.isLeaf;
}

bool PersistSnapshot::isBranch(const std::string& name) const
{
    auto it = find(name);
    return it != end() && !it->second.isLeaf;
}

std::string PersistSnapshot::getValue(const std::string& name) const
{
    auto it = find(name);
    if (it == end())
        throw PersistNotFound();
    if (!it->second.isLeaf)
        throw PersistBadLeaf();
    return it->second.value;
}

std::string PersistSnapshot::getString(const std::string& name, const std::string& fallback) const
{
    try {
        return hasEntry(name) ? getValue(name) : fallback;
    } catch (const PersistBadLeaf&) {
        return fallback;
    }
}

bool PersistSnapshot::getBool(const std::string& name) const
{
    std::string value = getValue(name);
    return !value.empty() && std::string("yYtT").find(value[0]) != std::string::npos;
}

bool PersistSnapshot::getBool(const std::string& name, bool fallback) const
{
    return hasEntry(name) ? getBool(name) : fallback;
}

int PersistSnapshot::getInt(const std::string& name) const
{
    return atoi(getValue(name).c_str());
}

int PersistSnapshot::getInt(const std::string& name, int fallback) const
{
    return hasEntry(name) ? getInt(name) : fallback;
}

// ---- tree --------------------------------------------------------------------------

PersistTree::PersistTree(const std::string& component, bool isVolatile)
    : m_state(openSettingsRoot(nullptr, isVolatile)->childState(component))
{
}

PersistTree::PersistTree(std::unique_ptr<IState> state) : m_state(std::move(state)) {}

PersistTree::~PersistTree() = default;

std::unique_ptr<PersistTree> PersistTree::child(const std::string& name) const
{
    return std::make_unique<PersistTree>(m_state->childState(name));
}

std::unique_ptr<PersistTree::IState> openSettingsRoot(win32::UserImpersonatorFactory* factory, bool isVolatile)
{
    PersistTreeState root({}, {}, factory, isVolatile);
    return root.childState("Software")->childState("Tessaline");
}

std::string describeKey(int scope, const std::vector<std::string>& localPath,
                        const std::vector<std::string>& networkPath)
{
    std::string text;
    const std::vector<std::string>* path = &localPath;
    if (scope == PersistMachine || scope == PersistNetwork)
        text = "HKEY_LOCAL_MACHINE";
    else if (scope == PersistUser)
        text = "HKEY_CURRENT_USER";
    else
        return "Persist Flag Error";
    if (scope == PersistNetwork)
        path = &networkPath;
    for (const std::string& name : *path)
        text += "\\" + name;
    return text;
}

HKEY openKeyPath(HKEY root, const std::vector<std::string>& names, int mode, bool isVolatile)
{
    if (mode < 0 || mode > 3)
        throw PersistBadFlags();
    win32::KeyHandle current(root);
    for (const std::string& name : names) {
        win32::KeyHandle next;
        LONG status;
        if (mode == 1)
            status = RegCreateKeyExA(current.get(), name.c_str(), 0, nullptr,
                                     isVolatile ? REG_OPTION_VOLATILE : REG_OPTION_NON_VOLATILE, kWriteAccess,
                                     nullptr, next.receive(), nullptr);
        else
            status = RegOpenKeyExA(current.get(), name.c_str(), 0, mode == 3 ? kDeleteAccess : kReadAccess,
                                   next.receive());
        current = std::move(next);
        if (status != ERROR_SUCCESS || !current) {
            SetLastError(status != ERROR_SUCCESS ? static_cast<DWORD>(status) : ERROR_INVALID_HANDLE);
            return nullptr;
        }
    }
    return current.release();
}

// ---- state -------------------------------------------------------------------------

PersistTreeState::PersistTreeState(std::vector<std::string> localPath, std::vector<std::string> networkPath,
                                   win32::UserImpersonatorFactory* factory, bool isVolatile)
    : m_localPath(std::move(localPath)), m_networkPath(std::move(networkPath)), m_factory(factory),
      m_volatile(isVolatile)
{
}

std::unique_ptr<PersistTree::IState> PersistTreeState::childState(const std::string& name) const
{
    if (name.empty())
        return std::make_unique<PersistTreeState>(*this);
    std::vector<std::string> local = m_localPath, network = m_localPath;
    local.push_back(name);
    network.push_back("Network Persist Settings");
    network.push_back(name);
    return std::make_unique<PersistTreeState>(local, network, m_factory, m_volatile);
}

win32::KeyHandle PersistTreeState::openScopeKey(int scope, int mode,
                                               std::unique_ptr<win32::UserImpersonator>& impersonator) const
{
    checkScope(scope);
    win32::KeyHandle root(HKEY_LOCAL_MACHINE);
    if (scope == PersistUser) {
        impersonator = impersonate(m_factory);
        if (RegOpenCurrentUser(mode == 3 ? kDeleteAccess : kWriteAccess, root.receive()) != ERROR_SUCCESS || !root)
            return win32::KeyHandle();
    }
    return win32::KeyHandle(
        openKeyPath(root.release(), scope == PersistNetwork ? m_networkPath : m_localPath, mode, m_volatile));
}

void PersistTreeState::loadSnapshot(PersistSnapshot& snapshot, int scope) const
{
    snapshot.clear();
    std::unique_ptr<win32::UserImpersonator> impersonator;
    win32::KeyHandle key = openScopeKey(scope, 0, impersonator);
    if (!key)
        return;
    for (DWORD index = 0;; ++index) {
        char name[kNameLength];
        DWORD nameLength = kNameLength, type = 0, size = 0;
        if (RegEnumValueA(key.get(), index, name, &nameLength, nullptr, &type, nullptr, &size) != ERROR_SUCCESS)
            break;
        if (type != REG_SZ)
            continue;
        win32::registry::BasicStringRead<char> read =
            win32::registry::readStringValue(key.get(), std::string(name), win32::registry::StringReadRule{true, size});
        if (!read.value)
            break;
        snapshot[name] = PersistNode{true, *read.value};
    }
    for (DWORD index = 0;; ++index) {
        char name[kNameLength];
        DWORD nameLength = kNameLength;
        if (RegEnumKeyExA(key.get(), index, name, &nameLength, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
            break;
        snapshot[name] = PersistNode{false, ""};
    }
}

void PersistTreeState::saveSnapshot(const PersistSnapshot& snapshot, int scope) const
{
    checkScope(scope);
    win32::KeyHandle key;
    if (scope == PersistUser) {
        std::unique_ptr<win32::UserImpersonator> impersonator = impersonate(m_factory);
        win32::KeyHandle root;
        if (RegOpenCurrentUser(kWriteAccess, root.receive()) != ERROR_SUCCESS || !root) {
            impersonator.reset();
            saveForTokenUser(snapshot);
            return;
        }
        key.reset(openKeyPath(root.release(), m_localPath, 1, m_volatile));
    } else {
        key.reset(openKeyPath(HKEY_LOCAL_MACHINE, scope == PersistNetwork ? m_networkPath : m_localPath, 1, m_volatile));
    }
    if (!key)
        throwNotWritable(scope, m_localPath, m_networkPath, GetLastError());
    writeLeaves(key.get(), snapshot, [&](const std::string& name, LONG status) {
        TS_LOG(persistLog(), LogLevel::Error)
            << "Failed to save value to reg key " << describeKey(scope, m_localPath, m_networkPath) << "\\" << name
            << ". Error Code : " << lastErrorText(static_cast<DWORD>(status));
    });
}

void PersistTreeState::saveForTokenUser(const PersistSnapshot& snapshot) const
{
    TS_LOG(persistLog(), LogLevel::Warn) << "Trying to save settings for non-logged-on user.";
    auto* session = dynamic_cast<win32::SessionUserImpersonatorFactory*>(m_factory);
    if (!m_factory || (session && !session->userToken())) {
        TS_LOG(persistLog(), LogLevel::Warn) << "Don't hold a user token or SID for user";
        return;
    }
    if (!session || m_localPath.empty())
        return;
    win32::UserProfile profile(session->userToken());
    win32::KeyHandle first;
    if (RegCreateKeyExA(profile.getProfileRoot(), m_localPath[0].c_str(), 0, nullptr,
                        m_volatile ? REG_OPTION_VOLATILE : REG_OPTION_NON_VOLATILE, kWriteAccess, nullptr,
                        first.receive(), nullptr) != ERROR_SUCCESS)
        return;
    std::vector<std::string> rest(m_localPath.begin() + 1, m_localPath.end());
    win32::KeyHandle key(openKeyPath(first.release(), rest, 1, m_volatile));
    if (!key)
        throwNotWritable(PersistUser, m_localPath, m_networkPath, GetLastError());
    writeLeaves(key.get(), snapshot, [](const std::string&, LONG) {});
}

LONG PersistTreeState::removeEntry(const std::string& name, int scope, bool recursive) const
{
    std::unique_ptr<win32::UserImpersonator> impersonator;
    win32::KeyHandle key = openScopeKey(scope, 3, impersonator);
    if (!key)
        return 0;
    RegDeleteValueA(key.get(), name.c_str());
    return recursive ? static_cast<LONG>(SHDeleteKeyA(key.get(), name.c_str())) : RegDeleteKeyA(key.get(), name.c_str());
}

// ---- settings readers ----------------------------------------------------------------

PersistSnapshot readSettingsSnapshot(const std::string& path, bool includeUser)
{
    PersistSnapshot snapshot;
    try {
        std::unique_ptr<PersistTree::IState> state = openSettingsRoot(nullptr, false);
        for (size_t start = 0; start <= path.size();) {
            size_t end = path.find('\\', start);
            if (end == std::string::npos)
                end = path.size();
            state = state->childState(path.substr(start, end - start));
            start = end + 1;
        }
        PersistSnapshot user;
        if (includeUser)
            state->loadSnapshot(user, PersistUser);
        state->loadSnapshot(snapshot, PersistMachine);
        std::vector<std::string> ignored;
        snapshot = chooseSettingScopes(user, snapshot, win32::isPrivilegedProcess(), ignored);
        for (const std::string& name : ignored)
            noteIgnoredSetting("HKEY_CURRENT_USER\\Software\\Tessaline\\" + path, name);
    } catch (...) {
        snapshot.clear();
    }
    return snapshot;
}

// ---- the scope rule ------------------------------------------------------------------

bool isMachineOnlySetting(const std::string& name)
{
    // "decorated filename" chooses the mode as "Mode" does.
    for (const char* machineOnly : {"directory", "filename", "Mode", "decorated filename", "maxFileCount", "DebugLocation"})
        if (name == machineOnly)
            return true;
    return false;
}

bool scopeMaySupply(bool privileged, int scope, const std::string& name)
{
    return scope != PersistUser || !privileged || !isMachineOnlySetting(name);
}

PersistSnapshot chooseSettingScopes(const PersistSnapshot& user, const PersistSnapshot& machine, bool privileged,
                                    std::vector<std::string>& ignored)
{
    if (user.empty())
        return machine;
    PersistSnapshot chosen = user;
    for (const auto& entry : user) {
        if (!entry.second.isLeaf || scopeMaySupply(privileged, PersistUser, entry.first))
            continue;
        ignored.push_back(entry.first);
        chosen.erase(entry.first);
    }
    if (privileged)
        for (const auto& entry : machine)
            if (entry.second.isLeaf && isMachineOnlySetting(entry.first))
                chosen[entry.first] = entry.second;
    return chosen;
}

namespace {

struct IgnoredNotes {
    SRWLOCK lock = SRWLOCK_INIT;
    std::atomic<bool> any{false};
    std::vector<std::string> texts;
};

IgnoredNotes& ignoredNotes()
{
    static IgnoredNotes* notes = new IgnoredNotes; // lines may be written during process exit
    return *notes;
}

} // namespace

std::string ignoredSettingText(const std::string& key, const std::string& name)
{
    return "Ignoring the value \"" + name + "\" of " + key +
           ": a privileged process takes it from the machine scope only";
}

void noteIgnoredSetting(const std::string& key, const std::string& name)
{
    IgnoredNotes& notes = ignoredNotes();
    AcquireSRWLockExclusive(&notes.lock);
    notes.texts.push_back(ignoredSettingText(key, name));
    notes.any = true;
    ReleaseSRWLockExclusive(&notes.lock);
}

bool hasIgnoredSettingNotes()
{
    return ignoredNotes().any.load(std::memory_order_relaxed);
}

std::vector<std::string> takeIgnoredSettingNotes()
{
    IgnoredNotes& notes = ignoredNotes();
    std::vector<std::string> taken;
    AcquireSRWLockExclusive(&notes.lock);
    taken.swap(notes.texts);
    notes.any = false;
    ReleaseSRWLockExclusive(&notes.lock);
    return taken;
}

}} // namespace ts::sys
