// The renderer the site layer asks for pages that need a browser.

#include "site/page_renderer.h"

#include <mutex>
#include <utility>

namespace velunor {
namespace {

std::mutex& InstalledLock() {
    static std::mutex lock;
    return lock;
}

std::shared_ptr<PageRenderer>& Installed() {
    static std::shared_ptr<PageRenderer> renderer;
    return renderer;
}

} // namespace

void InstallPageRenderer(std::shared_ptr<PageRenderer> renderer) {
    std::lock_guard<std::mutex> guard(InstalledLock());
    Installed() = std::move(renderer);
}

std::shared_ptr<PageRenderer> InstalledPageRenderer() {
    std::lock_guard<std::mutex> guard(InstalledLock());
    return Installed();
}

} // namespace velunor
