// Process entry of Setup: hands the narrow command line to the main flow.
#include "app/setup/mainflow.h"
#include "sys/libutils/win32/library.h"

#include <windows.h>

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR commandLine, int)
{
    // Setup runs elevated from wherever it was downloaded to: no later DLL load may
    // look in that folder or the current one.
    ts::sys::win32::restrictDllSearch();
    return ts::app::setupInstall::runSetup(instance, commandLine ? commandLine : "");
}
