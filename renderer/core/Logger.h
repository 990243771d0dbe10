#pragma once

#include <fstream>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

namespace vistrel {

// A log line held back to be written later, in its place among others.
struct HeldLine {
    int level = 0;
    std::string message;
};

// The process-wide log sink. Every line goes to standard output (where the
// front end reads the progress protocol) and, once init() has opened it, to
// logs/<prefix>_<timestamp>.log. Both sinks are flushed after every line.
class Logger {
public:
    // Debug ranks below Info: it is the least of the levels, not above Error.
    enum Level { Debug = -1, Info = 0, Warn = 1, Error = 2 };

    static Logger& instance();

    // Creates `dir` with its parents and opens <dir>/<prefix>_<timestamp>.log
    // for appending. Throws std::filesystem::filesystem_error when the folder
    // cannot be created; a file that cannot be opened only disables the file sink.
    void init(const std::string& dir, const std::string& prefix);

    void info(const std::string& message) { log(Info, message); }
    void warn(const std::string& message) { log(Warn, message); }
    void error(const std::string& message) { log(Error, message); }
    void log(int level, const std::string& message);
    // Writes a line now, even on a thread whose lines are held.
    void emit(int level, const std::string& message);

    // Where a thread's log lines go instead of out: while a thread's lines
    // are diverted (divertThisThread with a sink), its log calls hand every
    // line to that sink; null writes again. The batch uses this to keep the
    // lines of overlapping work in the order a one-by-one run would give.
    using LineSink = std::function<void(int level, const std::string& message)>;
    static void divertThisThread(const LineSink* sink);
    // Diverts the thread's lines into `lines` (null: writes again).
    static void holdThisThread(std::vector<HeldLine>* lines);

    // Path of the open log file (empty before init or when it did not open).
    std::string filePath() const;

    // Flushes and closes the file; registered to run at process exit.
    void shutdown();

    static const char* levelWord(int level);
    // Local time as YYYYMMDD_HHMMSS.
    static std::string timestamp();

private:
    Logger() = default;
    Logger(const Logger&) = delete;
    Logger& operator=(const Logger&) = delete;

    mutable std::mutex mutex_;
    std::ofstream file_;
    std::string filePath_;
    bool fileEnabled_ = false;
};

}  // namespace vistrel
