// velunor-renderer: the browser velunor-cli loads rule pages with.
//
// velunor-cli starts it as a child and speaks to it over its standard input and output: each
// "render" message asks for a page, each "cancel" ends one, each "page" message answers one (see
// site/render_message.h). It runs the browser off screen and needs no display. It ends when its
// input ends, which is when velunor-cli ends or closes it.

#include "app/my_app.h"
#include "app/rule_page_renderer.h"
#include "site/render_message.h"

#include <QGuiApplication>
#include <QMetaObject>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <thread>

#include <unistd.h>

namespace {

using velunor::CRenderMessageReader;
using velunor::CRulePageRenderer;
using velunor::RenderedPage;
using velunor::RenderMessage;
using velunor::RenderRequest;

std::mutex gOutputLock;

// Writes the answer whole, so that answers of loads that end at once never interleave.
void Answer(quint64 load, const RenderedPage& page) {
    const std::string bytes =
        velunor::EncodeRenderMessage(velunor::RenderedPageMessage(load, page));
    std::lock_guard<std::mutex> guard(gOutputLock);
    size_t written = 0;
    while (written < bytes.size()) {
        const ssize_t count = write(STDOUT_FILENO, bytes.data() + written, bytes.size() - written);
        if (count < 0 && errno == EINTR) {
            continue;
        }
        if (count <= 0) {
            // velunor-cli has gone; nobody is left to answer.
            std::_Exit(0);
        }
        written += static_cast<size_t>(count);
    }
}

void Handle(CRulePageRenderer& renderer, const RenderMessage& message) {
    if (message.Kind == "cancel") {
        renderer.Cancel(message.Load);
        return;
    }
    RenderRequest request;
    if (!velunor::ReadRenderRequest(message, request)) {
        RenderedPage page;
        page.Failure = velunor::RenderFailure::BadAddress;
        page.Detail = "the request named no address";
        Answer(message.Load, page);
        return;
    }
    renderer.Start(message.Load, request,
                   [load = message.Load](const RenderedPage& page) { Answer(load, page); });
}

// Reads the requests on a thread of its own, since reading blocks, and hands each to the
// browser's thread.
void ReadRequests(CRulePageRenderer* renderer) {
    CRenderMessageReader reader(STDIN_FILENO);
    RenderMessage message;
    while (reader.Next(message)) {
        QMetaObject::invokeMethod(
            renderer, [renderer, message] { Handle(*renderer, message); }, Qt::QueuedConnection);
    }
    QMetaObject::invokeMethod(qApp, &QCoreApplication::quit, Qt::QueuedConnection);
}

} // namespace

int main(int argc, char** argv) {
    // No display is needed or used: the pages are never shown.
    qputenv("QT_QPA_PLATFORM", "offscreen");
    std::signal(SIGPIPE, SIG_IGN);
    velunor::CMyApp::PrepareProcess();
    QGuiApplication app(argc, argv);
    CRulePageRenderer renderer;
    std::thread(ReadRequests, &renderer).detach();
    const int code = app.exec();
    // The reading thread may still be blocked on the input; the process simply ends.
    std::fflush(nullptr);
    std::_Exit(code);
}
