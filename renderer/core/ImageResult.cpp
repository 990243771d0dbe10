#include "core/ImageResult.h"

namespace vistrel {

ImageOutcome outcomeOf(const ImageResult* result)
{
    if (!result) {
        return ImageOutcome::NotDone;
    }
    if (result->skipped) {
        return ImageOutcome::Skipped;
    }
    return result->success ? ImageOutcome::Written : ImageOutcome::Failed;
}

const char* outcomeWord(ImageOutcome outcome)
{
    switch (outcome) {
    case ImageOutcome::NotDone: return "未完成";
    case ImageOutcome::Skipped: return "跳过";
    case ImageOutcome::Written: return "成功";
    case ImageOutcome::Failed: return "失败";
    }
    return "";
}

void addRemark(ImageResult& result, const std::string& remark)
{
    result.note = result.note.empty() ? remark : result.note + "; " + remark;
}

}  // namespace vistrel
