// Restarting the machine at the end of an installation.
#pragma once

namespace ts { namespace app { namespace setupInstall {

class IRestartService {
public:
    virtual ~IRestartService() = default;
    // Starts an immediate restart; false when it could not be started.
    virtual bool restart() = 0;
};

// SeShutdownPrivilege, then InitiateSystemShutdownA (no message, no time-out, forced).
class RestartService : public IRestartService {
public:
    bool restart() override;
};

}}} // namespace ts::app::setupInstall
