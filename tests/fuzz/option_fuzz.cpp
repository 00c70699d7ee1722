// Setup's command line, and the store texts of the typed settings, on any text.
#include "app/setup/setupoptions.h"
#include "sys/libutils/exception.h"
#include "sys/libutils/option.h"
#include "fuzzsupport.h"

#include <cstdint>
#include <stdexcept>
#include <string>

using namespace ts::sys;

using ts::fuzz::check;

namespace {

// A store that holds one text under every key, as the registry's machine scope.
class OneTextStore : public option::DataStore {
public:
    explicit OneTextStore(std::string text) : m_text(std::move(text)) {}
    DataStore* getChild(const std::string&, bool) override { return nullptr; }
    void reload() override {}
    void getValueNames(std::vector<std::string>&) override {}
    void getChildNames(std::vector<std::string>&) override {}
    std::pair<int32_t, std::string> read(const std::string&) override { return {option::MachineScope, m_text}; }
    void write(const std::string&, const std::string&, int32_t) override {}
    void remove(const std::string&) override {}

private:
    std::string m_text;
};

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    return ts::fuzz::silenceStandardOutput();
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string text(reinterpret_cast<const char*>(data), size);

    OneTextStore store(text);
    option::Flag flag("EnableUniqueDmpFiles", "");
    option::Bool yes("Bool", false, "", "");
    option::Int number("AssertBehaviour", 3, "", "");
    option::String path("DebugLocation", "", "", "");
    for (option::Option* o : {static_cast<option::Option*>(&flag), static_cast<option::Option*>(&yes),
                              static_cast<option::Option*>(&number), static_cast<option::Option*>(&path)}) {
        o->load(store);
        check(o->getOrigin() == option::MachineScope, "a loaded option's origin");
        o->getCommandLine();
    }
    check(path.getValue() == text, "a store text is a String's value unchanged");

    ts::app::setupInstall::SetupOptions options;
    try {
        options.group.parseCommandLine(text);
    } catch (const MessageException& e) {
        check(e.messageId() == 12, "message number of an unknown argument");
    } catch (const std::out_of_range&) {
        // A String value that is one lone double quote.
        check(text.find('"') != std::string::npos, "out of range without a quote");
    }
    const ts::app::setupInstall::SetupOptionValues values = options.values();
    check(values.mupLogFile.size() <= text.size(), "a value longer than the command line");
    check(values.extractAsDriver.size() <= text.size(), "a value longer than the command line");
    options.group.getCommandLine();
    return 0;
}
