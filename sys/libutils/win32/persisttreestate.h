// The persistent settings tree: string values under Software\Tessaline\<component> in
// the machine scope (0, HKEY_LOCAL_MACHINE), the console user's scope (1, its
// HKEY_CURRENT_USER) and the network copy (2, HKLM under "Network Persist Settings").
// One key of one scope at a time is read into a snapshot. Only REG_SZ values count.
#pragma once
#include "sys/libutils/win32/keyhandle.h"

#include <windows.h>
#include <exception>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace ts { namespace sys {

namespace win32 { class UserImpersonator; class UserImpersonatorFactory; }

enum PersistScope : int { PersistMachine = 0, PersistUser = 1, PersistNetwork = 2 };

class PersistException : public std::exception {
public:
    const char* what() const noexcept override = 0;
};
class PersistNotFound : public PersistException {
public:
    const char* what() const noexcept override { return "Persistent value not found"; }
};
class PersistBadLeaf : public PersistException {
public:
    const char* what() const noexcept override { return "Persistent name is not a leaf"; }
};
class PersistBadFlags : public PersistException {
public:
    const char* what() const noexcept override { return "PersistFlags not valid for operation"; }
};
class PersistBadAccess : public PersistException {
public:
    const char* what() const noexcept override { return "Persistent access failure"; }
};

struct PersistNode {
    bool isLeaf = true; // a value; false for a subkey
    std::string value;  // empty for a subkey
};

// The REG_SZ values and the direct subkey names of one key, ordered by name (byte-wise).
// A subkey replaces a value of the same name.
class PersistSnapshot : public std::map<std::string, PersistNode> {
public:
    bool hasEntry(const std::string& name) const { return count(name) != 0; }
    bool isLeaf(const std::string& name) const;
    bool isBranch(const std::string& name) const;
    // Throws PersistNotFound without an entry, PersistBadLeaf for a subkey.
    std::string getValue(const std::string& name) const;
    // The value; `fallback` when there is no entry or it is a subkey.
    std::string getString(const std::string& name, const std::string& fallback) const;
    // True when the value starts with y, Y, t or T. Throws like getValue.
    bool getBool(const std::string& name) const;
    // `fallback` when there is no entry; throws PersistBadLeaf for a subkey.
    bool getBool(const std::string& name, bool fallback) const;
    // The value as atoi reads it. Throws like getValue.
    int getInt(const std::string& name) const;
    int getInt(const std::string& name, int fallback) const;
    void setValue(const std::string& name, const std::string& text) { (*this)[name] = PersistNode{true, text}; }
    void erase(const std::string& name) { std::map<std::string, PersistNode>::erase(name); }
};

class PersistTreeState;

class PersistTree {
public:
    template <class State>
    class IStateTemplate {
    public:
        virtual ~IStateTemplate() = default;
        // The state of a subkey; an empty name copies this state.
        virtual std::unique_ptr<IStateTemplate> childState(const std::string& name) const = 0;
        // Never throws for registry failures: a missing key leaves the snapshot empty.
        // Throws PersistBadFlags for a scope other than 0, 1 and 2.
        virtual void loadSnapshot(PersistSnapshot& snapshot, int scope) const = 0;
        // Writes the leaf entries (never removes values). Throws PersistBadAccess when the
        // key cannot be opened or created, PersistBadFlags for a bad scope.
        virtual void saveSnapshot(const PersistSnapshot& snapshot, int scope) const = 0;
        // Deletes the value `name` and the subkey `name` (with its tree when `recursive`).
        // Returns the result of the key deletion; 0 when the key cannot be opened.
        virtual LONG removeEntry(const std::string& name, int scope, bool recursive) const = 0;
    };
    using IState = IStateTemplate<PersistTreeState>;

    // The tree of Software\Tessaline\<component>.
    PersistTree(const std::string& component, bool isVolatile);
    explicit PersistTree(std::unique_ptr<IState> state);
    virtual ~PersistTree();
    PersistTree(const PersistTree&) = delete;
    PersistTree& operator=(const PersistTree&) = delete;

    // The tree of a subkey of this one.
    std::unique_ptr<PersistTree> child(const std::string& name) const;
    void loadSnapshot(PersistSnapshot& snapshot, int scope) const { m_state->loadSnapshot(snapshot, scope); }
    void saveSnapshot(const PersistSnapshot& snapshot, int scope) const { m_state->saveSnapshot(snapshot, scope); }
    LONG removeEntry(const std::string& name, int scope, bool recursive) const
    {
        return m_state->removeEntry(name, scope, recursive);
    }

private:
    std::unique_ptr<IState> m_state;
};

class PersistTreeState : public PersistTree::IState {
public:
    PersistTreeState(std::vector<std::string> localPath, std::vector<std::string> networkPath,
                     win32::UserImpersonatorFactory* factory, bool isVolatile);
    std::unique_ptr<PersistTree::IState> childState(const std::string& name) const override;
    void loadSnapshot(PersistSnapshot& snapshot, int scope) const override;
    void saveSnapshot(const PersistSnapshot& snapshot, int scope) const override;
    LONG removeEntry(const std::string& name, int scope, bool recursive) const override;

    const std::vector<std::string>& localPath() const { return m_localPath; }
    const std::vector<std::string>& networkPath() const { return m_networkPath; }

private:
    // The state's key of `scope` opened with `mode` (read or delete); for the user
    // scope while `impersonator` impersonates. Null when it cannot be opened.
    win32::KeyHandle openScopeKey(int scope, int mode, std::unique_ptr<win32::UserImpersonator>& impersonator) const;
    void saveForTokenUser(const PersistSnapshot& snapshot) const;

    std::vector<std::string> m_localPath;
    std::vector<std::string> m_networkPath;
    win32::UserImpersonatorFactory* m_factory; // not owned; may be null
    bool m_volatile;
};

// The state of Software\Tessaline. `factory` (not owned, may be null) impersonates for
// the user scope; without one, the console user is impersonated.
std::unique_ptr<PersistTree::IState> openSettingsRoot(win32::UserImpersonatorFactory* factory, bool isVolatile);

// "HKEY_LOCAL_MACHINE" (scopes 0, 2) or "HKEY_CURRENT_USER" (1), then "\" + each
// component of the scope's path; "Persist Flag Error" for another scope.
std::string describeKey(int scope, const std::vector<std::string>& localPath,
                        const std::vector<std::string>& networkPath);

// Opens `names` one level after the other below `root` (which is closed as well, unless
// it is a predefined key): mode 0 and 2 read, 1 creates for writing (volatile when
// asked), 3 opens for deleting. Null on failure, with the error as the thread's last
// error. Throws PersistBadFlags for a mode above 3.
HKEY openKeyPath(HKEY root, const std::vector<std::string>& names, int mode, bool isVolatile);

// A settings key `Software\Tessaline\<path>` (components separated by "\"): the user
// scope when `includeUser` is set and that scope holds any entry, else the machine
// scope, under the rule of chooseSettingScopes. Never throws; empty when neither can be
// read.
PersistSnapshot readSettingsSnapshot(const std::string& path, bool includeUser);

// The values that name a file or folder or make the logger rename or delete files. Any
// program of the user can write the user scope, so a privileged process takes them from
// the machine scope only.
bool isMachineOnlySetting(const std::string& name);
// Whether `scope` may supply the value `name` to a process that is (or is not)
// privileged (elevated or SYSTEM).
bool scopeMaySupply(bool privileged, int scope, const std::string& name);
// The settings of one key read in both scopes: `user` when it holds any entry, else
// `machine`; for a privileged process the machine-only values come from `machine`
// whatever `user` holds, and the names of those `user` held are added to `ignored`.
PersistSnapshot chooseSettingScopes(const PersistSnapshot& user, const PersistSnapshot& machine, bool privileged,
                                    std::vector<std::string>& ignored);

// The text of the WARN line for a user-scope value that was ignored: `key` names the
// key as describeKey does.
std::string ignoredSettingText(const std::string& key, const std::string& name);
// Notes an ignored user-scope value; the logger writes the notes as WARN lines of
// "PersistRegAccess" (reading settings must not log: the logger reads them while it is
// being made). Any thread.
void noteIgnoredSetting(const std::string& key, const std::string& name);
// The notes since the last call, in order; a cheap check first.
bool hasIgnoredSettingNotes();
std::vector<std::string> takeIgnoredSettingNotes();

}} // namespace ts::sys
