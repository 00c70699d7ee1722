// The extended-properties record as a module carries it (resource RT_RCDATA 1).
#pragma once
#include "app/setup/extendedproperties.h"

#include <windows.h>

namespace ts { namespace app { namespace setupInstall {

// Loads the record of `module` (null: the executable). False when it does not load.
bool loadExtendedProperties(HMODULE module, ExtendedProperties& out);

}}} // namespace ts::app::setupInstall
