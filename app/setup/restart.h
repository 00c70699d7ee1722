// Restarting the machine at the end of an installation.
#pragma once
#include <cstdint>
#include <string>

namespace ts { namespace app { namespace setupInstall {

class IRestartService {
public:
    virtual ~IRestartService() = default;
    // Asks the person at the keyboard whether to restart now; true only for "Yes" (the
    // default answer is "not now").
    virtual bool askToRestart() = 0;
    // Starts an immediate restart, a planned one for an installation. `forceApplicationsClosed`:
    // applications are closed without asking (a silent run, the administrator asked for
    // it); otherwise they may ask the user to save their work. False when not started.
    virtual bool restart(bool forceApplicationsClosed) = 0;
};

// The restart question in `language` ("%1" = the product name), and its box style: Yes
// and No, No the default.
struct RestartQuestion {
    std::wstring text;
    std::wstring caption;
};
RestartQuestion restartQuestion(const std::wstring& productName, uint16_t language);
extern const unsigned kRestartQuestionStyle;

// The question is a message box in the user's language (`language`, "%1" = the product
// name); the restart SeShutdownPrivilege, then InitiateSystemShutdownExA without message
// or time-out.
class RestartService : public IRestartService {
public:
    RestartService(std::wstring productName, uint16_t language);
    bool askToRestart() override;
    bool restart(bool forceApplicationsClosed) override;

private:
    std::wstring m_productName;
    uint16_t m_language;
};

}}} // namespace ts::app::setupInstall
