// A registry key with everything below it, read into memory: for comparing what a run
// left against what was there before, and for putting a key back as it was.
#pragma once
#include <windows.h>

#include <map>
#include <string>
#include <vector>

namespace ts { namespace test {

struct RegistryData {
    DWORD type = REG_NONE;
    std::vector<BYTE> bytes;
    bool operator==(const RegistryData& other) const { return type == other.type && bytes == other.bytes; }
    bool operator!=(const RegistryData& other) const { return !(*this == other); }
};

struct RegistryTree {
    bool exists = false;
    // Key paths relative to the root of the tree ("" for the root itself), each with
    // its values by name.
    std::map<std::wstring, std::map<std::wstring, RegistryData>> keys;
};

// The names of a key's direct subkeys, in enumeration order.
std::vector<std::wstring> subkeyNames(HKEY key);
// `view` is 0, KEY_WOW64_64KEY or KEY_WOW64_32KEY.
RegistryTree readRegistryTree(HKEY root, const std::wstring& path, REGSAM view = 0);
// Makes the key exactly the tree again: deletes it, then writes the tree (nothing when
// the tree did not exist).
void writeRegistryTree(HKEY root, const std::wstring& path, const RegistryTree& tree, REGSAM view = 0);
// One line per key or value that differs; empty when the trees are equal.
std::string registryDifferences(const RegistryTree& before, const RegistryTree& after);

// Saves a key at construction and puts it back at destruction.
class SavedRegistryKey {
public:
    SavedRegistryKey(HKEY root, std::wstring path, REGSAM view = 0)
        : m_root(root), m_path(std::move(path)), m_view(view), m_tree(readRegistryTree(m_root, m_path, m_view))
    {
    }
    ~SavedRegistryKey() { writeRegistryTree(m_root, m_path, m_tree, m_view); }
    SavedRegistryKey(const SavedRegistryKey&) = delete;
    SavedRegistryKey& operator=(const SavedRegistryKey&) = delete;
    const RegistryTree& saved() const { return m_tree; }

private:
    HKEY m_root;
    std::wstring m_path;
    REGSAM m_view;
    RegistryTree m_tree;
};

}} // namespace ts::test
