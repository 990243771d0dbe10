#include "core/Logger.h"

#include "core/SafeText.h"

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <iostream>

namespace fs = std::filesystem;

namespace vistrel {

namespace {

thread_local const Logger::LineSink* divertedTo = nullptr;
thread_local Logger::LineSink holdingSink;

void shutdownAtExit()
{
    Logger::instance().shutdown();
}
}  // namespace

Logger& Logger::instance()
{
    static Logger* logger = [] {
        auto* created = new Logger();  // kept alive until exit so late lines still log
        std::atexit(shutdownAtExit);
        return created;
    }();
    return *logger;
}

const char* Logger::levelWord(int level)
{
    switch (level) {
    case Info: return "INFO";
    case Warn: return "WARN";
    case Error: return "ERROR";
    case Debug: return "DEBUG";
    default: return "UNKNOWN";
    }
}

std::string Logger::timestamp()
{
    std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    char text[32];
    std::strftime(text, sizeof text, "%Y%m%d_%H%M%S", &local);
    return text;
}

void Logger::init(const std::string& dir, const std::string& prefix)
{
    std::lock_guard<std::mutex> lock(mutex_);
    const fs::path folder(dir);
    std::error_code ec;
    fs::create_directories(folder, ec);
    if (ec) {
        throw fs::filesystem_error("create_directories", folder, ec);
    }
    if (file_.is_open()) {
        file_.close();
    }
    const fs::path full = folder / (prefix + "_" + timestamp() + ".log");
    file_.open(full, std::ios::out | std::ios::app);
    fileEnabled_ = file_.is_open();
    filePath_ = fileEnabled_ ? full.string() : std::string();
}

void Logger::divertThisThread(const LineSink* sink)
{
    divertedTo = sink;
}

void Logger::holdThisThread(std::vector<HeldLine>* lines)
{
    if (!lines) {
        divertedTo = nullptr;
        return;
    }
    holdingSink = [lines](int level, const std::string& message) { lines->push_back({level, message}); };
    divertedTo = &holdingSink;
}

void Logger::log(int level, const std::string& message)
{
    if (divertedTo) {
        (*divertedTo)(level, message);
        return;
    }
    emit(level, message);
}

void Logger::emit(int level, const std::string& message)
{
    std::lock_guard<std::mutex> lock(mutex_);
    // One message, one line: names and system texts cannot forge protocol lines.
    const std::string line = "[" + timestamp() + "][" + levelWord(level) + "] " + escapeControlBytes(message);
    std::cout << line << '\n';
    std::cout.flush();
    if (fileEnabled_ && file_.is_open()) {
        file_ << line << '\n';
        file_.flush();
    }
}

std::string Logger::filePath() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return filePath_;
}

void Logger::shutdown()
{
    std::lock_guard<std::mutex> lock(mutex_);
    if (file_.is_open()) {
        file_.flush();
        file_.close();
    }
    fileEnabled_ = false;
}

}  // namespace vistrel
