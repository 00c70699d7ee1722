// The logger's outputs: the enciphering line output, files with size-based restart,
// fan-out lists and the stream writers they end in.
#pragma once
#include "sys/libutils/logcipher.h"
#include "sys/libutils/logger.h"
#include "sys/libutils/win32/handle.h"

#include <functional>
#include <memory>
#include <ostream>
#include <streambuf>
#include <string>
#include <vector>

namespace ts { namespace sys {

class FileRemovedOrRenamedChecker {
public:
    virtual ~FileRemovedOrRenamedChecker() = default;
    virtual bool isRemovedOrRenamed() = 0;
};

class NullFileRemovedOrRenamedChecker : public FileRemovedOrRenamedChecker {
public:
    bool isRemovedOrRenamed() override { return false; }
};

// Formats one line, enciphers it with the chaining value carried on from the previous
// line and hands the Base64 text to its writer.
class OutputImpl : public Logger::Output {
public:
    OutputImpl(std::unique_ptr<Logger::OutputWriter> writer, int lineType);
    void write(uint64_t elapsedMs, int level, const char* file, int line, const std::string& module,
               const std::string& label, const std::string& threadName, const std::string& text) override;

private:
    std::unique_ptr<Logger::OutputWriter> m_writer;
    int m_lineType;
    encryption::LineEncoder m_encoder;
};

// Text and a line end to a narrow stream, flushed. The stream is not owned.
class StreamOutputWriter : public Logger::OutputWriter {
public:
    explicit StreamOutputWriter(std::ostream& stream) : m_stream(stream) {}
    void write(const std::string& text, int level) override;
private:
    std::ostream& m_stream;
};

// The platform log of another system; writes nothing here.
class AndroidLogOutputWriter : public Logger::OutputWriter {
public:
    explicit AndroidLogOutputWriter(std::string loggerName) : m_loggerName(std::move(loggerName)) {}
    void write(const std::string&, int) override {}
private:
    std::string m_loggerName;
};

// Forwards each line to every output of the list, in order. The outputs are not owned.
class MultiOutput : public Logger::Output {
public:
    void add(Logger::Output* output) { m_outputs.push_back(output); }
    void write(uint64_t elapsedMs, int level, const char* file, int line, const std::string& module,
               const std::string& label, const std::string& threadName, const std::string& text) override;
private:
    std::vector<Logger::Output*> m_outputs;
};

// Text and a line end to an open file; counts the bytes the file holds.
class HandleOutputWriter : public Logger::OutputWriter {
public:
    HandleOutputWriter(HANDLE file, uint64_t& size) : m_file(file), m_size(size) {}
    void write(const std::string& text, int level) override;
private:
    HANDLE m_file; // not owned
    uint64_t& m_size;
};

// A log file. New renames an existing file to stem + ".old" + ext first, Decorate adds
// a local time stamp to the name (pruning older decorated files to `maxFileCount`, low
// 8 bits, 0 keeps all), Append continues a plain file. A new file is always created
// exclusively, and no link is followed (safefile.h): when the name is taken, "_1",
// "_2"... are tried, a bounded number of times. Past `maxSize` bytes (0: no limit) the
// file restarts in the same mode (Append as New) with a fresh chain and a banner. A file
// that cannot be opened drops its lines.
class FileOutput : public Logger::Output {
public:
    enum Mode { New = 0, Decorate = 1, Append = 2 };

    FileOutput(const std::string& path, Mode mode, uint32_t maxSize, int lineType, uint32_t maxFileCount);
    ~FileOutput() override;
    void write(uint64_t elapsedMs, int level, const char* file, int line, const std::string& module,
               const std::string& label, const std::string& threadName, const std::string& text) override;

    const std::string& path() const { return m_path; }
    Mode mode() const { return m_mode; }
    uint32_t maxSize() const { return m_maxSize; }
    // The file being written (the decorated name in Decorate mode).
    const std::string& currentFile() const { return m_currentFile; }

private:
    void open(Mode mode);
    std::unique_ptr<FileRemovedOrRenamedChecker> m_checker;
    win32::FileHandle m_file;
    uint64_t m_size = 0;
    std::unique_ptr<OutputImpl> m_impl;
    std::string m_path;
    std::string m_currentFile;
    Mode m_mode;
    uint32_t m_maxSize;
    int m_lineType;
    uint32_t m_maxFileCount;
};

// Splits a path at its last "." after the last separator: ("C:\a\TSS1.log") gives
// "C:\a\TSS1" and ".log"; without an extension ext is "".
void splitExtension(const std::string& path, std::string& stem, std::string& ext);
// stem + ".old" + ext.
std::string oldFileName(const std::string& path);
// The n-th name to try for a new file: `name` itself, then stem + "_" + n + ext.
std::string alternativeFileName(const std::string& name, int n);
// Of the file names matching stem + "*-*" + ext, those to delete so that `maxFileCount`
// (low 8 bits; 0 keeps all) remain: the oldest, by descending name order.
std::vector<std::string> decoratedFilesToPrune(std::vector<std::string> names, uint32_t maxFileCount);

// Collects text and passes it to OutputDebugStringA on each flush.
class DebugOutBuf : public std::stringbuf {
protected:
    int sync() override;
};
class DebugOStream : public std::ostream {
public:
    DebugOStream() : std::ostream(&m_buffer) {}
private:
    DebugOutBuf m_buffer;
};

// Hands the collected text to a callback on each flush.
class HelperOutBuf : public std::stringbuf {
public:
    explicit HelperOutBuf(std::function<void(const std::string&)> callback) : m_callback(std::move(callback)) {}
protected:
    int sync() override;
private:
    std::function<void(const std::string&)> m_callback;
};
class HelperOStream : public std::ostream {
public:
    explicit HelperOStream(std::function<void(const std::string&)> callback)
        : std::ostream(&m_buffer), m_buffer(std::move(callback)) {}
private:
    HelperOutBuf m_buffer;
};

}} // namespace ts::sys
