// The driver layout: which driver folders and which driver installer program apply to
// the running platform, parsed from the lines of resource "EXE" 3.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

namespace ts { namespace app { namespace setupInstall {

struct DriverEntry {
    std::wstring folder;
    std::wstring description;
    int32_t platform = 0;   // 0 x86, 1 x64
    int32_t osVersion = 0;  // OsVersion value
};

struct DriverInstallerEntry {
    bool valid = false;
    std::wstring path; // relative to the temporary folder
    int32_t platform = 0;
};

struct DriverLayout {
    std::vector<DriverEntry> drivers; // file order, only those for the running system
    DriverInstallerEntry installer;
};

// The tokens of one line: split at spaces (runs skipped); a token starting with '"'
// runs to the next '"' inclusive, and without one it and the rest of the line are
// dropped.
std::vector<std::wstring> layoutTokens(const std::wstring& line);

// Parses the layout for a system whose isWow64 answer is `platform` (0 or 1) and whose
// OsVersion value is `osVersion` ("*" stands for it). Lines that are not well-formed
// DRIVER (5 tokens) or DPINST (3 tokens) lines are ignored; a later DPINST line for
// the platform replaces an earlier one.
DriverLayout parseDriverLayout(const std::vector<std::wstring>& lines, int32_t platform, int32_t osVersion);

}}} // namespace ts::app::setupInstall
