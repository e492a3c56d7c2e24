#pragma once
// Rule pages loaded by the browser, off screen: the pages of sites that only a browser can read
// (a script challenge, a search built by scripts).
//
// Each site has a browser profile of its own, kept in memory only: its cookies come from the
// site's cookie jar with each request and go back with each answer, and nothing else outlives
// the process. The reader's pages never share it. A page may go only to http and https
// addresses; downloads, pop-ups and every permission (notifications, camera, microphone,
// location) are refused.

#include "site/page_renderer.h"

#include <QObject>
#include <QString>

#include <functional>
#include <map>
#include <memory>

class QWebEngineProfile;

namespace velunor {

class CRulePageLoad;
class CSiteCookieBook;

class CRulePageRenderer : public QObject {
    Q_OBJECT

  public:
    /// Called once, on the GUI thread, when a load has ended in any way.
    using LoadDone = std::function<void(const RenderedPage&)>;

    explicit CRulePageRenderer(QObject* parent = nullptr);
    ~CRulePageRenderer() override;

    /// Starts loading the page `request` names as load `load` (a number of the caller's, not in
    /// use); returns at once. GUI thread only.
    void Start(quint64 load, const RenderRequest& request, LoadDone done);

    /// Ends load `load` early: its LoadDone is called with Cancelled before this returns.
    /// Nothing when it has already ended. GUI thread only.
    void Cancel(quint64 load);

    /// How many loads are running. GUI thread only.
    int RunningLoads() const;

  private:
    struct SiteProfile;
    SiteProfile& ProfileFor(const RenderRequest& request);
    void Finish(quint64 load, const RenderedPage& page);

    std::map<QString, std::unique_ptr<SiteProfile>> profiles_;
    std::map<quint64, CRulePageLoad*> loads_;
};

/// The renderer of the desktop program: every Render, from any job thread, is carried to
/// `renderer` on the GUI thread and waited for.
class CInProcessPageRenderer : public PageRenderer {
  public:
    /// Loads with `renderer`, which must live as long as the GUI thread runs loads.
    explicit CInProcessPageRenderer(CRulePageRenderer* renderer) : renderer_(renderer) {}

    RenderedPage Render(const RenderRequest& request,
                        const std::function<bool()>& cancelled) override;

  private:
    CRulePageRenderer* renderer_;
};

} // namespace velunor
