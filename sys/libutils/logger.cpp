// Minimal logger: modules at the default verbosity, lines to the debugger output.
#include "sys/libutils/logger.h"

#include <windows.h>
#include <cstdio>
#include <map>
#include <mutex>

namespace ts { namespace sys {

Identity::Identity(std::string name, std::string label, const Identity* parent)
    : m_name(std::move(name)), m_label(std::move(label)), m_parent(parent) {}

std::string Identity::label() const
{
    if (!m_label.empty())
        return m_label;
    if (m_parent)
        return m_parent->label();
    char buffer[16];
    snprintf(buffer, sizeof buffer, "%08X", static_cast<unsigned>(reinterpret_cast<uintptr_t>(this)));
    return buffer;
}

class Logger::Module {
public:
    Module(std::string name, int verbosity) : m_name(std::move(name)), m_verbosity(verbosity) {}
    int verbosity() const { return m_verbosity; }
    void write(int level, const char* file, int line, const std::string& label, const std::string& text)
    {
        std::string out = "[" + m_name + (label.empty() ? "" : " " + label) + "] " + text + "\n";
        OutputDebugStringA(out.c_str());
    }
private:
    std::string m_name;
    int m_verbosity;
};

struct Logger::State {
    std::string name;
    int defaultVerbosity = 4;
    std::map<std::string, std::unique_ptr<Module>> modules;
};

namespace {
std::recursive_mutex& globalLock()
{
    static std::recursive_mutex lock;
    return lock;
}
Logger* g_instance = nullptr;
}

Logger::Logger(std::unique_ptr<State> state) : m_state(std::move(state)) {}
Logger::~Logger() = default;

Logger& Logger::create(const std::string& name, int defaultVerbosity, uint32_t, bool, OutputWriter* sink)
{
    std::unique_ptr<OutputWriter> owned(sink);
    std::lock_guard<std::recursive_mutex> guard(globalLock());
    if (!g_instance) {
        auto state = std::make_unique<State>();
        state->name = name;
        state->defaultVerbosity = defaultVerbosity;
        static std::unique_ptr<Logger> holder;
        holder.reset(new Logger(std::move(state)));
        g_instance = holder.get();
    }
    return *g_instance;
}

Logger& Logger::instance()
{
    std::lock_guard<std::recursive_mutex> guard(globalLock());
    if (g_instance)
        return *g_instance;
    char path[MAX_PATH] = "";
    GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string base = path;
    base = base.substr(base.find_last_of("\\/") + 1);
    base = base.substr(0, base.rfind('.'));
    return create(base, 4, 1, false);
}

const std::string& Logger::name() const
{
    return m_state->name;
}

Logger::Module& Logger::getModule(const std::string& name)
{
    std::lock_guard<std::recursive_mutex> guard(globalLock());
    auto& slot = m_state->modules[name];
    if (!slot)
        slot = std::make_unique<Module>(name, m_state->defaultVerbosity);
    return *slot;
}

Logger::Logged::Logged()
{
    m_module = &Logger::instance().getModule(m_name);
}

Logger::Logged::Logged(Logger& logger, const std::string& module, const std::string& label)
{
    if (!module.empty())
        m_name = module;
    if (!label.empty())
        m_label = label;
    m_module = &logger.getModule(m_name);
}

Logger::Logged::Logged(const std::string& module, const std::string& label, const std::string&, uint32_t, uint32_t)
    : Logged(Logger::instance(), module, label) {}

bool Logger::Logged::isEnabled(int level) const
{
    return m_module && level <= m_module->verbosity();
}

Logger::LogLine::LogLine(const Logged& logged, int level, const char* file, int line)
    : m_logged(logged), m_level(level), m_file(file), m_line(line) {}

Logger::LogLine::~LogLine()
{
    std::lock_guard<std::recursive_mutex> guard(globalLock());
    if (m_logged.module())
        m_logged.module()->write(m_level, m_file, m_line, m_logged.label(), m_text.str());
}

}} // namespace ts::sys
