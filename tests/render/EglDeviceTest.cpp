// Choosing the EGL device: by the key, else by VISTREL_EGL_DEVICE; a device
// that is not there is an error, never silently another renderer.
#include "render/EglGraphicsContext.h"
#include "render/OffscreenRenderer.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <osg/Geode>
#include <osg/ShapeDrawable>

#include <cstdlib>

using namespace vistrel;
using testsupport::CapturedOutput;

namespace {

// initialize's log and errors (one line each, as the batch logs them) for a
// renderer with `egl_device` and VISTREL_EGL_DEVICE as given (null: unset);
// `started` tells whether it initialised.
std::string initializeLog(int eglDevice, const char* environment, bool& started)
{
    if (environment) {
        setenv("VISTREL_EGL_DEVICE", environment, 1);
    } else {
        unsetenv("VISTREL_EGL_DEVICE");
    }
    RenderConfig config;
    config.width = 64;
    config.height = 48;
    config.egl_device = eglDevice;
    osg::ref_ptr<osg::Geode> scene = new osg::Geode;
    scene->addDrawable(new osg::ShapeDrawable(new osg::Box(osg::Vec3(), 1.0f)));
    OffscreenRenderer renderer(config);
    CapturedOutput log;
    std::vector<std::string> errors;
    started = renderer.initialize(scene.get(), errors);
    unsetenv("VISTREL_EGL_DEVICE");
    std::string text = log.text();
    for (const std::string& error : errors) {
        text += "[ERROR] " + error + "\n";
    }
    return text;
}

}  // namespace

TEST(EglDevice, ADeviceBeyondTheListIsAClearErrorFromTheKeyOrTheEnvironment)
{
    bool started = true;
    std::string log = initializeLog(63, nullptr, started);
    EXPECT_FALSE(started);
    EXPECT_NE(log.find("[ERROR] EGL device 63 was asked for (egl_device or VISTREL_EGL_DEVICE), but only "),
              std::string::npos)
        << log;
    EXPECT_NE(log.find(" EGL devices were found"), std::string::npos) << log;
    EXPECT_NE(log.find("[ERROR] Failed to create off-screen OpenGL graphics context."), std::string::npos) << log;

    log = initializeLog(-1, "63", started);
    EXPECT_FALSE(started);
    EXPECT_NE(log.find("[ERROR] EGL device 63 was asked for"), std::string::npos) << log;

    log = initializeLog(-1, "gpu0", started);
    EXPECT_FALSE(started);
    EXPECT_NE(log.find("VISTREL_EGL_DEVICE is not a device index: gpu0"), std::string::npos) << log;

    // The key wins over the variable; automatic when neither is set.
    std::string failure;
    setenv("VISTREL_EGL_DEVICE", "3", 1);
    EXPECT_EQ(requestedEglDevice(1, failure), 1);
    EXPECT_EQ(requestedEglDevice(-1, failure), 3);
    unsetenv("VISTREL_EGL_DEVICE");
    EXPECT_EQ(requestedEglDevice(-1, failure), -1);
    EXPECT_TRUE(failure.empty());

    // Automatic: a context, and the log names the device or platform and the driver.
    log = initializeLog(-1, nullptr, started);
    ASSERT_TRUE(started) << log;
    EXPECT_NE(log.find("OpenGL context: EGL "), std::string::npos) << log;
    EXPECT_NE(log.find(", driver "), std::string::npos) << log;
}
