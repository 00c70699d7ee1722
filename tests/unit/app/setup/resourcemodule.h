// A module with chosen "EXE" resources for the payload and installer tests: a copy of
// a built program with the resources added, loaded as a data file.
#pragma once
#include "support/testsupport.h"

#include <windows.h>
#include <map>
#include <string>

namespace ts { namespace test {

class ResourceModule {
public:
    // `resources`: "EXE" ID -> bytes.
    explicit ResourceModule(const std::map<int, std::string>& resources) : m_path(m_folder.path + L"\\module.exe")
    {
        CopyFileW((buildDir() + L"\\bin\\tsrecorder.exe").c_str(), m_path.c_str(), FALSE);
        HANDLE update = BeginUpdateResourceW(m_path.c_str(), FALSE);
        for (const auto& entry : resources)
            UpdateResourceW(update, L"EXE", MAKEINTRESOURCEW(entry.first), 0, const_cast<char*>(entry.second.data()),
                            static_cast<DWORD>(entry.second.size()));
        m_ok = update && EndUpdateResourceW(update, FALSE);
        m_module = LoadLibraryExW(m_path.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    }
    ~ResourceModule()
    {
        if (m_module)
            FreeLibrary(m_module);
    }
    ResourceModule(const ResourceModule&) = delete;
    ResourceModule& operator=(const ResourceModule&) = delete;

    HMODULE get() const { return m_module; }
    bool ok() const { return m_ok && m_module; }

private:
    const TempFolder m_folder{L"resmodule"};
    const std::wstring m_path;
    HMODULE m_module = nullptr;
    bool m_ok = false;
};

}} // namespace ts::test
