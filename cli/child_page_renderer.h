#pragma once
// The page renderer of velunor-cli: the renderer program beside it (velunor-renderer), started
// as a child the first time a page needs a browser and spoken to over its standard input and
// output. Loads of several threads share the one child. A child that cannot start, or ends, fails
// the loads it had with a reason that says so; the next load starts a new one.

#include "site/page_renderer.h"

#include <memory>
#include <mutex>
#include <string>

namespace velunor::cli {

/// The name of the renderer program in the program folder.
inline constexpr char kRendererProgramName[] = "velunor-renderer";

class CChildPageRenderer : public PageRenderer {
  public:
    /// A renderer that starts the program at `programPath` when it is first asked.
    explicit CChildPageRenderer(std::string programPath);
    ~CChildPageRenderer() override;
    CChildPageRenderer(const CChildPageRenderer&) = delete;
    CChildPageRenderer& operator=(const CChildPageRenderer&) = delete;

    RenderedPage Render(const RenderRequest& request,
                        const std::function<bool()>& cancelled) override;

  private:
    struct Child;
    std::shared_ptr<Child> RunningChild(std::string& whyNot);

    std::string programPath_;
    std::mutex lock_;
    std::shared_ptr<Child> child_;
};

} // namespace velunor::cli
