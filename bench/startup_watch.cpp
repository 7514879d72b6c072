// Watches the X display for a window to be mapped and then for its pixels to show given
// pictures, printing when each happened (CLOCK_MONOTONIC seconds), for the start-up benchmark.
//   startup_watch --title TITLE --size WxH --stage NAME X Y W H FILE.rgb [--stage ...]
//                 [--tolerance N] [--interval-us N] [--timeout S]
// A window counts once it is mapped after the watch began, has the title and the size. Each
// stage is a rectangle of the window and the raw RGB picture it must show (every pixel within
// the tolerance); stages are awaited in the order given. Prints "ready-to-watch" once it
// listens, then "mapped T", "<stage> T" for each, and a closing line with what the polls cost.
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <sys/resource.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

namespace {

struct Stage {
    std::string name;
    int x = 0, y = 0, width = 0, height = 0;
    std::vector<unsigned char> rgb;
};

double Now() {
    timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

double CpuSeconds() {
    rusage usage;
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

bool LoadPicture(const char* path, Stage* stage) {
    FILE* file = std::fopen(path, "rb");
    if (!file) return false;
    const std::size_t size = static_cast<std::size_t>(stage->width) * static_cast<std::size_t>(stage->height) * 3;
    stage->rgb.resize(size);
    const bool complete = std::fread(stage->rgb.data(), 1, size, file) == size;
    std::fclose(file);
    return complete;
}

bool HasTitle(Display* display, Window window, const char* title) {
    char* name = nullptr;
    bool same = false;
    if (XFetchName(display, window, &name) && name) {
        same = std::strcmp(name, title) == 0;
        XFree(name);
    }
    return same;
}

// Whether the window now shows the stage's picture; a window that went away shows nothing.
bool Shows(Display* display, Window window, const Stage& stage, int tolerance) {
    XImage* image = XGetImage(display, window, stage.x, stage.y, static_cast<unsigned>(stage.width),
                              static_cast<unsigned>(stage.height), AllPlanes, ZPixmap);
    if (!image) return false;
    bool same = true;
    for (int y = 0; y < stage.height && same; ++y) {
        for (int x = 0; x < stage.width; ++x) {
            const unsigned long pixel = XGetPixel(image, x, y);
            const int got[3] = {static_cast<int>((pixel >> 16) & 0xFF), static_cast<int>((pixel >> 8) & 0xFF),
                                static_cast<int>(pixel & 0xFF)};
            const unsigned char* want = &stage.rgb[(static_cast<std::size_t>(y) * stage.width + x) * 3];
            if (std::abs(got[0] - want[0]) > tolerance || std::abs(got[1] - want[1]) > tolerance ||
                std::abs(got[2] - want[2]) > tolerance) {
                same = false;
                break;
            }
        }
    }
    XDestroyImage(image);
    return same;
}

int IgnoreErrors(Display*, XErrorEvent*) { return 0; }

}  // namespace

int main(int argc, char** argv) {
    const char* title = nullptr;
    int width = 0, height = 0, tolerance = 6;
    long intervalUs = 2000;
    double timeout = 60;
    std::vector<Stage> stages;
    for (int i = 1; i < argc; ++i) {
        if (!std::strcmp(argv[i], "--title") && i + 1 < argc) title = argv[++i];
        else if (!std::strcmp(argv[i], "--size") && i + 1 < argc) std::sscanf(argv[++i], "%dx%d", &width, &height);
        else if (!std::strcmp(argv[i], "--tolerance") && i + 1 < argc) tolerance = std::atoi(argv[++i]);
        else if (!std::strcmp(argv[i], "--interval-us") && i + 1 < argc) intervalUs = std::atol(argv[++i]);
        else if (!std::strcmp(argv[i], "--timeout") && i + 1 < argc) timeout = std::atof(argv[++i]);
        else if (!std::strcmp(argv[i], "--stage") && i + 6 < argc) {
            Stage stage;
            stage.name = argv[i + 1];
            stage.x = std::atoi(argv[i + 2]);
            stage.y = std::atoi(argv[i + 3]);
            stage.width = std::atoi(argv[i + 4]);
            stage.height = std::atoi(argv[i + 5]);
            if (!LoadPicture(argv[i + 6], &stage)) {
                std::fprintf(stderr, "startup_watch: cannot read %s\n", argv[i + 6]);
                return 2;
            }
            stages.push_back(stage);
            i += 6;
        } else {
            std::fprintf(stderr, "startup_watch: unknown argument %s\n", argv[i]);
            return 2;
        }
    }
    Display* display = XOpenDisplay(nullptr);
    if (!title || !display) {
        std::fprintf(stderr, "startup_watch: needs --title and a display\n");
        return 2;
    }
    XSetErrorHandler(IgnoreErrors);
    XSelectInput(display, DefaultRootWindow(display), SubstructureNotifyMask);
    XSync(display, False);
    std::printf("ready-to-watch\n");
    std::fflush(stdout);

    const double deadline = Now() + timeout;
    Window window = 0;
    while (!window && Now() < deadline) {
        while (XPending(display)) {
            XEvent event;
            XNextEvent(display, &event);
            if (event.type != MapNotify) continue;
            XWindowAttributes attributes;
            if (XGetWindowAttributes(display, event.xmap.window, &attributes) && attributes.width == width &&
                attributes.height == height && HasTitle(display, event.xmap.window, title)) {
                window = event.xmap.window;
                std::printf("mapped %.6f\n", Now());
                std::fflush(stdout);
                break;
            }
        }
        if (!window) {
            timespec pause = {0, 500000};
            nanosleep(&pause, nullptr);
        }
    }
    long polls = 0;
    double inGetImage = 0;
    const double cpuBefore = CpuSeconds();
    for (std::size_t s = 0; window && s < stages.size() && Now() < deadline;) {
        const double start = Now();
        const bool shown = Shows(display, window, stages[s], tolerance);
        const double end = Now();
        ++polls;
        inGetImage += end - start;
        if (shown) {
            std::printf("%s %.6f\n", stages[s].name.c_str(), end);
            std::fflush(stdout);
            ++s;
            continue;
        }
        timespec pause = {0, intervalUs * 1000};
        nanosleep(&pause, nullptr);
    }
    std::printf("polls %ld seconds %.6f cpu %.6f\n", polls, inGetImage, CpuSeconds() - cpuBefore);
    XCloseDisplay(display);
    return window ? 0 : 1;
}
