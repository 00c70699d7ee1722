// Setup's command line: the option group "Setup" and the values the run reads from it.
// Plain code: the host's fuzz targets build it too.
#pragma once
#include "sys/libutils/option.h"

#include <string>

namespace ts { namespace app { namespace setupInstall {

// The texts are UTF-8: Setup parses the wide command line in that form.
struct SetupOptionValues {
    bool noreboot = false;
    bool suppressUpToDateInfo = false;
    bool silent = false;
    bool stageDrivers = false;
    bool ignoreCompatibility = false;
    bool disableInstallCompleteNotification = false;
    std::string mupLogFile;
    std::string extractAsDriver;
};

// The option group "Setup". The group is declared first so that its members are
// destroyed before it.
struct SetupOptions {
    sys::GroupOption group{"Setup", "Install Tessaline software", ""};
    sys::OptionInGroup<sys::option::Flag> noreboot{group, "noreboot", ""};
    sys::OptionInGroup<sys::option::Flag> noAutomaticUpdateChecks{group, "noAutomaticUpdateChecks", ""};
    sys::OptionInGroup<sys::option::Flag> suppressUpToDateInfo{group, "suppressUpToDateInfo", ""};
    sys::OptionInGroup<sys::option::Flag> silent{group, "silent", ""};
    sys::OptionInGroup<sys::option::Flag> stageDrivers{group, "stageDrivers", ""};
    sys::OptionInGroup<sys::option::Flag> ignoreCompatibility{group, "ignoreCompatibility", ""};
    sys::OptionInGroup<sys::option::Flag> disableInstallCompleteNotification{
        group, "disableInstallCompleteNotification", ""};
    sys::OptionInGroup<sys::option::String> mupLogFile{group, "mupLogFile", ""};
    sys::OptionInGroup<sys::option::String> extractAsDriver{group, "extractAsDriver", ""};

    SetupOptionValues values() const
    {
        SetupOptionValues v;
        v.noreboot = noreboot.getValue();
        v.suppressUpToDateInfo = suppressUpToDateInfo.getValue();
        v.silent = silent.getValue();
        v.stageDrivers = stageDrivers.getValue();
        v.ignoreCompatibility = ignoreCompatibility.getValue();
        v.disableInstallCompleteNotification = disableInstallCompleteNotification.getValue();
        v.mupLogFile = mupLogFile.getValue();
        v.extractAsDriver = extractAsDriver.getValue();
        return v;
    }
};

}}} // namespace ts::app::setupInstall
