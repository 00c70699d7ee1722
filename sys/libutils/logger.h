// The process-wide logger. Objects that log derive from Logger::Logged and write
// through TS_LOG(object, level) << ...; the line is built only when the level is enabled.
#pragma once
#include <cstdint>
#include <memory>
#include <sstream>
#include <string>

namespace ts { namespace sys {

// Who is logging: module name, instance label and an optional parent.
class Identity {
public:
    Identity() = default;
    Identity(std::string name, std::string label, const Identity* parent = nullptr);
    virtual ~Identity() = default;

    const std::string& name() const { return m_name; }
    // The label, else the parent's label, else this object's address in eight hex digits.
    std::string label() const;
    const Identity* parent() const { return m_parent; }

protected:
    std::string m_name;
    std::string m_label;
    const Identity* m_parent = nullptr;
};

class Logger {
public:
    class Module;
    class OutputWriter {
    public:
        virtual ~OutputWriter() = default;
        virtual void write(const std::string& text, int level) = 0;
    };

    class Logged : public virtual Identity {
    public:
        // Uses the name already held by the Identity base.
        Logged();
        // An empty module name or label leaves the Identity value unchanged.
        Logged(Logger& logger, const std::string& module, const std::string& label);
        // Module with its own file `directory + fileStem + ".log"`.
        Logged(const std::string& module, const std::string& label, const std::string& fileStem,
               uint32_t maxFileSize, uint32_t maxFileCount);
        virtual ~Logged() = default;

        bool isEnabled(int level) const;
        Module* module() const { return m_module; }

    private:
        Module* m_module = nullptr;
    };

    // Collects one line; hands it to the module when destroyed.
    class LogLine {
    public:
        LogLine(const Logged& logged, int level, const char* file, int line);
        ~LogLine();
        std::ostream& stream() { return m_text; }
    private:
        const Logged& m_logged;
        int m_level;
        const char* m_file;
        int m_line;
        std::ostringstream m_text;
    };

    // Creates the singleton unless it exists (then the sink is discarded).
    static Logger& create(const std::string& name, int defaultVerbosity, uint32_t flags, bool preferTemp,
                          OutputWriter* sink = nullptr);
    // The singleton; created from the executable's name on first use.
    static Logger& instance();

    Module& getModule(const std::string& name);
    const std::string& name() const;

    struct State;
private:
    explicit Logger(std::unique_ptr<State> state);
    std::unique_ptr<State> m_state;
public:
    ~Logger();
};

}} // namespace ts::sys

#define TS_LOG(logged, level) \
    if (!(logged).isEnabled(level)) {} else ::ts::sys::Logger::LogLine((logged), (level), __FILE__, __LINE__).stream()
