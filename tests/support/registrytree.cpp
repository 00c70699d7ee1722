#include "support/registrytree.h"

#include "support/testsupport.h"

#include <sstream>

namespace ts { namespace test {

namespace {

void readKey(HKEY key, const std::wstring& relative, RegistryTree& tree)
{
    std::map<std::wstring, RegistryData>& values = tree.keys[relative];
    for (DWORD index = 0;; ++index) {
        wchar_t name[16384];
        DWORD nameLength = 16384, type = 0, size = 0;
        if (RegEnumValueW(key, index, name, &nameLength, nullptr, &type, nullptr, &size) != ERROR_SUCCESS)
            break;
        RegistryData data;
        data.type = type;
        data.bytes.resize(size);
        nameLength = 16384;
        RegEnumValueW(key, index, name, &nameLength, nullptr, &type, data.bytes.data(), &size);
        data.bytes.resize(size);
        values[std::wstring(name, nameLength)] = std::move(data);
    }
    for (const std::wstring& child : subkeyNames(key)) {
        HKEY sub = nullptr;
        if (RegOpenKeyExW(key, child.c_str(), 0, KEY_READ, &sub) != ERROR_SUCCESS)
            continue;
        readKey(sub, relative.empty() ? child : relative + L"\\" + child, tree);
        RegCloseKey(sub);
    }
}

std::string describe(const std::wstring& key, const std::wstring& value)
{
    return narrow(key) + (value.empty() ? "" : " : " + narrow(value));
}

} // namespace

std::vector<std::wstring> subkeyNames(HKEY key)
{
    std::vector<std::wstring> names;
    for (DWORD i = 0;; ++i) {
        wchar_t name[256];
        DWORD length = 256;
        if (RegEnumKeyExW(key, i, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
            break;
        names.emplace_back(name, length);
    }
    return names;
}

RegistryTree readRegistryTree(HKEY root, const std::wstring& path, REGSAM view)
{
    RegistryTree tree;
    HKEY key = nullptr;
    if (RegOpenKeyExW(root, path.c_str(), 0, KEY_READ | view, &key) != ERROR_SUCCESS)
        return tree;
    tree.exists = true;
    readKey(key, L"", tree);
    RegCloseKey(key);
    return tree;
}

void writeRegistryTree(HKEY root, const std::wstring& path, const RegistryTree& tree, REGSAM view)
{
    HKEY key = nullptr;
    if (RegOpenKeyExW(root, path.c_str(), 0, KEY_ALL_ACCESS | view, &key) == ERROR_SUCCESS) {
        RegDeleteTreeW(key, nullptr);
        RegCloseKey(key);
        RegDeleteKeyExW(root, path.c_str(), view, 0);
    }
    if (!tree.exists)
        return;
    for (const auto& entry : tree.keys) {
        std::wstring full = entry.first.empty() ? path : path + L"\\" + entry.first;
        HKEY created = nullptr;
        if (RegCreateKeyExW(root, full.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS | view, nullptr, &created, nullptr) !=
            ERROR_SUCCESS)
            continue;
        for (const auto& value : entry.second)
            RegSetValueExW(created, value.first.c_str(), 0, value.second.type,
                           value.second.bytes.empty() ? nullptr : value.second.bytes.data(),
                           static_cast<DWORD>(value.second.bytes.size()));
        RegCloseKey(created);
    }
}

std::string registryDifferences(const RegistryTree& before, const RegistryTree& after)
{
    std::ostringstream out;
    if (before.exists != after.exists)
        out << (before.exists ? "key removed\n" : "key added\n");
    for (const auto& key : before.keys) {
        auto found = after.keys.find(key.first);
        if (found == after.keys.end()) {
            out << "missing key " << describe(key.first, L"") << "\n";
            continue;
        }
        for (const auto& value : key.second) {
            auto other = found->second.find(value.first);
            if (other == found->second.end())
                out << "missing value " << describe(key.first, value.first) << "\n";
            else if (other->second != value.second)
                out << "changed value " << describe(key.first, value.first) << "\n";
        }
        for (const auto& value : found->second)
            if (!key.second.count(value.first))
                out << "new value " << describe(key.first, value.first) << "\n";
    }
    for (const auto& key : after.keys)
        if (!before.keys.count(key.first))
            out << "new key " << describe(key.first, L"") << "\n";
    return out.str();
}

}} // namespace ts::test
