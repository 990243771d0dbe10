#include "model/OsgNoticeLog.h"

#include "core/Logger.h"
#include "core/RunProtocol.h"
#include "model/TileReadLedger.h"

#include <osg/Notify>

#include <cstring>
#include <mutex>
#include <utility>
#include <string>
#include <unordered_set>

namespace vistrel {

namespace {

// Distinct notices remembered for the repeat check; past this many, new
// ones are still written but no longer remembered.
constexpr std::size_t kMaxRemembered = 10000;

int levelOf(osg::NotifySeverity severity)
{
    switch (severity) {
    case osg::ALWAYS:
    case osg::NOTICE:
    case osg::INFO: return Logger::Info;
    case osg::FATAL: return Logger::Error;
    case osg::WARN: return Logger::Warn;
    default: return Logger::Debug;
    }
}

// The file named by a failed read's notice: the pager's "Error in reading
// file <name> : <why>" or the reading functions' "Error reading file <name>:
// <why>". Empty for other notices.
std::string failedReadFile(const std::string& text)
{
    for (const auto& [prefix, separator] : {std::pair<const char*, const char*>{"Error in reading file ", " : "},
                                            std::pair<const char*, const char*>{"Error reading file ", ": "}}) {
        const std::size_t start = std::strlen(prefix);
        if (text.compare(0, start, prefix) != 0) {
            continue;
        }
        const std::size_t end = text.rfind(separator);
        return end == std::string::npos || end < start ? std::string() : text.substr(start, end - start);
    }
    return std::string();
}

class NoticeLog : public osg::NotifyHandler {
public:
    void notify(osg::NotifySeverity severity, const char* message) override
    {
        std::string text = message ? message : "";
        while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) {
            text.pop_back();
        }
        if (text.empty()) {
            return;
        }
        if (isRepeat(text)) {
            tileledger::countRepeatedNotice();
            return;
        }
        Logger::instance().log(levelOf(severity), runMessage(RunMessage::OsgNotice, {text}));
    }

private:
    bool isRepeat(const std::string& text)
    {
        const std::string failedFile = failedReadFile(text);
        if (!failedFile.empty() && tileledger::isKnownBad(failedFile)) {
            return true;  // the callback logged this file already
        }
        std::lock_guard<std::mutex> lock(mutex_);
        if (seen_.count(text) > 0) {
            return true;
        }
        if (seen_.size() < kMaxRemembered) {
            seen_.insert(text);
        }
        return false;
    }

    std::mutex mutex_;
    std::unordered_set<std::string> seen_;
};

}  // namespace

void installOsgNoticeLog()
{
    static std::once_flag once;
    std::call_once(once, [] { osg::setNotifyHandler(new NoticeLog); });
}

}  // namespace vistrel
