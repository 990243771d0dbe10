#include "render/EglGraphicsContext.h"

#include <EGL/egl.h>
#include <EGL/eglext.h>

#include <osg/GLExtensions>
#include <osg/State>

#include "core/Logger.h"

#include <cstdlib>
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

struct Candidate {
    EGLDisplay display = EGL_NO_DISPLAY;
    std::string kind;  // "EGL device i of n: name" or "EGL surfaceless"
    bool gpu = false;
};

// The name of an EGL device: its renderer when the driver tells it, else its
// DRM device file.
std::string deviceName(PFNEGLQUERYDEVICESTRINGEXTPROC queryDeviceString, EGLDeviceEXT device)
{
    if (!queryDeviceString) {
        return "unnamed";
    }
    const char* extensions = queryDeviceString(device, EGL_EXTENSIONS);
    const EGLint kRendererExt = 0x335F;  // EGL_RENDERER_EXT of EGL_EXT_device_query_name
    if (hasExtension(extensions, "EGL_EXT_device_query_name")) {
        if (const char* renderer = queryDeviceString(device, kRendererExt)) {
            return renderer;
        }
    }
    if (hasExtension(extensions, "EGL_EXT_device_drm")) {
        if (const char* file = queryDeviceString(device, EGL_DRM_DEVICE_FILE_EXT)) {
            return file;
        }
    }
    return hasExtension(extensions, "EGL_MESA_device_software") ? "software rasteriser" : "unnamed";
}

// Displays to try, best first: the requested device alone, or hardware
// devices then the surfaceless platform. `failure` says why an explicit
// request cannot be met (the list is then empty).
std::vector<Candidate> candidateDisplays(int requested, std::string& failure)
{
    std::vector<Candidate> displays;
    const char* clientExtensions = eglQueryString(EGL_NO_DISPLAY, EGL_EXTENSIONS);
    auto getPlatformDisplay =
        reinterpret_cast<PFNEGLGETPLATFORMDISPLAYEXTPROC>(eglGetProcAddress("eglGetPlatformDisplayEXT"));
    EGLDeviceEXT devices[16];
    EGLint count = 0;
    auto queryDeviceString =
        reinterpret_cast<PFNEGLQUERYDEVICESTRINGEXTPROC>(eglGetProcAddress("eglQueryDeviceStringEXT"));
    if (getPlatformDisplay && hasExtension(clientExtensions, "EGL_EXT_platform_device")) {
        auto queryDevices = reinterpret_cast<PFNEGLQUERYDEVICESEXTPROC>(eglGetProcAddress("eglQueryDevicesEXT"));
        if (!queryDevices || !queryDevices(16, devices, &count)) {
            count = 0;
        }
    }
    if (requested >= 0 && requested >= count) {
        failure = "only " + std::to_string(count) + " EGL devices were found";
        return displays;
    }
    for (EGLint i = 0; i < count; ++i) {
        const char* extensions = queryDeviceString ? queryDeviceString(devices[i], EGL_EXTENSIONS) : nullptr;
        const bool software = hasExtension(extensions, "EGL_MESA_device_software");
        if ((requested >= 0 && i != requested) || (requested < 0 && software)) {
            continue;  // automatic: the software rasteriser comes through the surfaceless platform
        }
        EGLDisplay display = getPlatformDisplay(EGL_PLATFORM_DEVICE_EXT, devices[i], nullptr);
        if (display != EGL_NO_DISPLAY) {
            displays.push_back({display,
                                "EGL device " + std::to_string(i) + " of " + std::to_string(count) + ": " +
                                    deviceName(queryDeviceString, devices[i]),
                                !software});
        }
    }
    if (requested < 0 && getPlatformDisplay && hasExtension(clientExtensions, "EGL_MESA_platform_surfaceless")) {
        EGLDisplay display = getPlatformDisplay(EGL_PLATFORM_SURFACELESS_MESA, EGL_DEFAULT_DISPLAY, nullptr);
        if (display != EGL_NO_DISPLAY) {
            displays.push_back({display, "EGL surfaceless", false});
        }
    }
    if (displays.empty()) {
        failure = requested >= 0 ? "it gives no EGL display" : "no EGL device or surfaceless platform";
    }
    return displays;
}

// A desktop OpenGL config with 8-bit RGBA, a 24-bit depth buffer and
// pbuffer surfaces; null when the display has none.
EGLConfig pbufferConfig(EGLDisplay display)
{
    const EGLint attributes[] = {EGL_SURFACE_TYPE,
                                 EGL_PBUFFER_BIT,
                                 EGL_RENDERABLE_TYPE,
                                 EGL_OPENGL_BIT,
                                 EGL_RED_SIZE,
                                 8,
                                 EGL_GREEN_SIZE,
                                 8,
                                 EGL_BLUE_SIZE,
                                 8,
                                 EGL_ALPHA_SIZE,
                                 8,
                                 EGL_DEPTH_SIZE,
                                 24,
                                 EGL_NONE};
    EGLConfig config = nullptr;
    EGLint count = 0;
    if (!eglChooseConfig(display, attributes, &config, 1, &count) || count < 1) {
        return nullptr;
    }
    return config;
}

}  // namespace

int requestedEglDevice(int configured, std::string& failure)
{
    if (configured >= 0) {
        return configured;
    }
    const char* text = std::getenv("VISTREL_EGL_DEVICE");
    if (!text || !*text) {
        return -1;
    }
    char* end = nullptr;
    const long value = std::strtol(text, &end, 10);
    if (*end != '\0' || value < -1 || value > 1000) {
        failure = std::string("VISTREL_EGL_DEVICE is not a device index: ") + text;
        return -2;
    }
    return static_cast<int>(value);
}

osg::ref_ptr<EglGraphicsContext> EglGraphicsContext::create(int width, int height, int device, std::string& failure,
                                                            bool& deviceMissing)
{
    deviceMissing = false;
    const auto displays = candidateDisplays(device, failure);
    if (displays.empty()) {
        deviceMissing = device >= 0;
        return nullptr;
    }
    bool gpuOpened = false;
    for (const Candidate& candidate : displays) {
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
        if (context->open(candidate.display, candidate.kind, failure)) {
            gpuOpened = candidate.gpu;
            if (!gpuOpened && device < 0) {
                noteNoGpu();
            }
            return context;
        }
    }
    if (device >= 0) {
        deviceMissing = true;
    } else if (!gpuOpened) {
        noteNoGpu();
    }
    return nullptr;
}

void EglGraphicsContext::noteNoGpu()
{
    static bool said = false;
    if (!said) {
        said = true;
        Logger::instance().info("No GPU EGL device opened; rendering in software.");
    }
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
    EGLConfig config = pbufferConfig(display);
    if (!config) {
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
    const char* version = eglQueryString(display, EGL_VERSION);
    description_ = kind + " (EGL " + std::to_string(major) + "." + std::to_string(minor) + ", driver " +
                   (vendor ? vendor : "unknown vendor") + " " + (version ? version : "") + ")";

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
