// Process entry of Setup: hands the narrow command line to the main flow.
#include "app/setup/mainflow.h"

#include <windows.h>

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR commandLine, int)
{
    return ts::app::setupInstall::runSetup(instance, commandLine ? commandLine : "");
}
