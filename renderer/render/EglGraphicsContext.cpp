#include "render/EglGraphicsContext.h"

#include <EGL/egl.h>
#include <EGL/eglext.h>

#include <osg/GLExtensions>
#include <osg/State>

#include <cstring>
#include <vector>

namespace vistrel {

namespace {

bool hasExtension(const char* list, const char* name)
{
    if (!list) {
        return false;
    }
    const std::size_t length = std::strlen(name);
    for (const char* p = std::strstr(list, name); p; p = std::strstr(p + 1, name)) {
        const bool startOk = p == list || p[-1] == ' ';
        const bool endOk = p[length] == '\0' || p[length] == ' ';
        if (startOk && endOk) {
            return true;
        }
    }
    return false;
}

// Displays to try, best first: hardware devices, then the surfaceless platform.
std::vector<std::pair<EGLDisplay, std::string>> candidateDisplays()
{
    std::vector<std::pair<EGLDisplay, std::string>> displays;
    const char* clientExtensions = eglQueryString(EGL_NO_DISPLAY, EGL_EXTENSIONS);
    auto getPlatformDisplay =
        reinterpret_cast<PFNEGLGETPLATFORMDISPLAYEXTPROC>(eglGetProcAddress("eglGetPlatformDisplayEXT"));
    if (!getPlatformDisplay) {
        return displays;
    }
    if (hasExtension(clientExtensions, "EGL_EXT_platform_device")) {
        auto queryDevices = reinterpret_cast<PFNEGLQUERYDEVICESEXTPROC>(eglGetProcAddress("eglQueryDevicesEXT"));
        auto queryDeviceString =
            reinterpret_cast<PFNEGLQUERYDEVICESTRINGEXTPROC>(eglGetProcAddress("eglQueryDeviceStringEXT"));
        EGLDeviceEXT devices[16];
        EGLint count = 0;
        if (queryDevices && queryDevices(16, devices, &count)) {
            for (EGLint i = 0; i < count; ++i) {
                const char* deviceExtensions = queryDeviceString ? queryDeviceString(devices[i], EGL_EXTENSIONS) : nullptr;
                if (hasExtension(deviceExtensions, "EGL_MESA_device_software")) {
                    continue;  // the software rasteriser comes through the surfaceless platform
                }
                EGLDisplay display = getPlatformDisplay(EGL_PLATFORM_DEVICE_EXT, devices[i], nullptr);
                if (display != EGL_NO_DISPLAY) {
                    displays.emplace_back(display, "EGL device");
                }
            }
        }
    }
    if (hasExtension(clientExtensions, "EGL_MESA_platform_surfaceless")) {
        EGLDisplay display = getPlatformDisplay(EGL_PLATFORM_SURFACELESS_MESA, EGL_DEFAULT_DISPLAY, nullptr);
        if (display != EGL_NO_DISPLAY) {
            displays.emplace_back(display, "EGL surfaceless");
        }
    }
    return displays;
}

}  // namespace

osg::ref_ptr<EglGraphicsContext> EglGraphicsContext::create(int width, int height, std::string& failure)
{
    const auto displays = candidateDisplays();
    if (displays.empty()) {
        failure = "no EGL device or surfaceless platform";
        return nullptr;
    }
    for (const auto& [display, kind] : displays) {
        osg::ref_ptr<EglGraphicsContext> context = new EglGraphicsContext;
        osg::ref_ptr<osg::GraphicsContext::Traits> traits = new osg::GraphicsContext::Traits;
        traits->x = 0;
        traits->y = 0;
        traits->width = width;
        traits->height = height;
        traits->windowDecoration = false;
        traits->doubleBuffer = false;
        traits->pbuffer = true;
        context->_traits = traits;
        if (context->open(display, kind, failure)) {
            return context;
        }
    }
    return nullptr;
}

bool EglGraphicsContext::open(void* displayHandle, const std::string& kind, std::string& failure)
{
    EGLDisplay display = static_cast<EGLDisplay>(displayHandle);
    EGLint major = 0;
    EGLint minor = 0;
    if (!eglInitialize(display, &major, &minor)) {
        failure = kind + ": eglInitialize failed";
        return false;
    }
    const EGLint configAttributes[] = {EGL_SURFACE_TYPE, EGL_PBUFFER_BIT, EGL_RENDERABLE_TYPE, EGL_OPENGL_BIT,
                                       EGL_RED_SIZE, 8, EGL_GREEN_SIZE, 8, EGL_BLUE_SIZE, 8, EGL_ALPHA_SIZE, 8,
                                       EGL_DEPTH_SIZE, 24, EGL_NONE};
    EGLConfig config = nullptr;
    EGLint configCount = 0;
    if (!eglChooseConfig(display, configAttributes, &config, 1, &configCount) || configCount < 1) {
        failure = kind + ": no pbuffer-capable desktop OpenGL config";
        return false;
    }
    if (!eglBindAPI(EGL_OPENGL_API)) {
        failure = kind + ": eglBindAPI(EGL_OPENGL_API) failed";
        return false;
    }
    // The camera renders into its own frame-buffer object; the surface only
    // has to make the context current.
    const EGLint surfaceAttributes[] = {EGL_WIDTH, 16, EGL_HEIGHT, 16, EGL_NONE};
    EGLSurface surface = eglCreatePbufferSurface(display, config, surfaceAttributes);
    if (surface == EGL_NO_SURFACE) {
        failure = kind + ": eglCreatePbufferSurface failed";
        return false;
    }
    EGLContext context = eglCreateContext(display, config, EGL_NO_CONTEXT, nullptr);
    if (context == EGL_NO_CONTEXT) {
        eglDestroySurface(display, surface);
        failure = kind + ": eglCreateContext failed";
        return false;
    }
    display_ = display;
    surface_ = surface;
    context_ = context;
    const char* vendor = eglQueryString(display, EGL_VENDOR);
    description_ = kind + " (EGL " + std::to_string(major) + "." + std::to_string(minor) + ", " +
                   (vendor ? vendor : "unknown vendor") + ")";

    setState(new osg::State);
    getState()->setGraphicsContext(this);
    const unsigned int id = osg::GraphicsContext::createNewContextID();
    getState()->setContextID(id);
    // Tile loading may have created an extension object for this ID before a
    // context existed; it would report no FBO support.
    osg::GLExtensions::Set(id, nullptr);
    return true;
}

EglGraphicsContext::~EglGraphicsContext()
{
    closeImplementation();
}

bool EglGraphicsContext::valid() const
{
    return context_ != nullptr;
}

bool EglGraphicsContext::realizeImplementation()
{
    realized_ = valid();
    return realized_;
}

bool EglGraphicsContext::isRealizedImplementation() const
{
    return realized_;
}

void EglGraphicsContext::closeImplementation()
{
    if (!context_) {
        return;
    }
    EGLDisplay display = static_cast<EGLDisplay>(display_);
    eglMakeCurrent(display, EGL_NO_SURFACE, EGL_NO_SURFACE, EGL_NO_CONTEXT);
    eglDestroyContext(display, static_cast<EGLContext>(context_));
    eglDestroySurface(display, static_cast<EGLSurface>(surface_));
    context_ = nullptr;
    surface_ = nullptr;
    realized_ = false;
}

bool EglGraphicsContext::makeCurrentImplementation()
{
    if (!context_) {
        return false;
    }
    eglBindAPI(EGL_OPENGL_API);
    EGLSurface surface = static_cast<EGLSurface>(surface_);
    return eglMakeCurrent(static_cast<EGLDisplay>(display_), surface, surface, static_cast<EGLContext>(context_)) ==
           EGL_TRUE;
}

bool EglGraphicsContext::makeContextCurrentImplementation(osg::GraphicsContext*)
{
    return makeCurrentImplementation();
}

bool EglGraphicsContext::releaseContextImplementation()
{
    if (!display_) {
        return false;
    }
    return eglMakeCurrent(static_cast<EGLDisplay>(display_), EGL_NO_SURFACE, EGL_NO_SURFACE, EGL_NO_CONTEXT) ==
           EGL_TRUE;
}

void EglGraphicsContext::bindPBufferToTextureImplementation(GLenum)
{
}

void EglGraphicsContext::swapBuffersImplementation()
{
    if (context_) {
        eglSwapBuffers(static_cast<EGLDisplay>(display_), static_cast<EGLSurface>(surface_));
    }
}

}  // namespace vistrel
