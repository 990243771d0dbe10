#pragma once

#include <cpl_error.h>

#include <string>

namespace vistrel {

// While it lives, GDAL's and PROJ's messages raised on this thread are kept
// here instead of reaching the log, the first error's text kept. PROJ can raise one per point it cannot move, so a step
// that may fail for many points holds them here and says once why it failed.
class GdalErrorCapture {
public:
    GdalErrorCapture() { CPLPushErrorHandlerEx(&GdalErrorCapture::take, this); }
    ~GdalErrorCapture() { CPLPopErrorHandler(); }
    GdalErrorCapture(const GdalErrorCapture&) = delete;
    GdalErrorCapture& operator=(const GdalErrorCapture&) = delete;

    const std::string& firstError() const { return first_; }

private:
    static void CPL_STDCALL take(CPLErr level, CPLErrorNum, const char* message)
    {
        auto* self = static_cast<GdalErrorCapture*>(CPLGetErrorHandlerUserData());
        if (!self || (level != CE_Failure && level != CE_Fatal)) {
            return;
        }
        if (self->first_.empty() && message) {
            self->first_ = message;
        }
    }

    std::string first_;
};

}  // namespace vistrel
