#pragma once
// The reading settings of the reading view: the menu of text size, line spacing, colours and
// zoom, the settings it shows checked, and the browser panel they are laid on. The settings are
// kept in Config/ReadingSettings.xml; a choice applies to every library page at once, the page
// shown included, and is written to the file straight away, as is every zoom step the reader
// takes with the keys.

#include "library/reading_settings.h"

#include <QObject>

#include <array>
#include <string>

class QAction;
class QActionGroup;
class QFont;
class QMenu;
class QWidget;

namespace velunor {

class CDlgHtml;

class CReadingSettingsControl : public QObject {
    Q_OBJECT

  public:
    /// Reads the settings of `programFolder` (which ends in "/"), gives `browserPanel` their zoom
    /// and look, and builds the menu as a child of `menuParent` in `menuFont`. `browserPanel`
    /// must outlive this object. GUI thread.
    CReadingSettingsControl(std::u16string programFolder, CDlgHtml& browserPanel,
                            const QFont& menuFont, QWidget* menuParent);

    /// The menu: the submenus "字号", "行距" and "主题", each a group of checkable choices, and
    /// the zoom commands. GUI thread.
    QMenu& Menu();
    /// Opens the menu just below `button`. GUI thread.
    void ShowMenuBelow(const QWidget& button);
    /// The settings in force.
    const ReadingSettings& Settings() const;
    /// Shows the chapter list beside the page when it is hidden and hides it when it is shown,
    /// and keeps that. GUI thread.
    void ToggleChapterList();

  signals:
    /// The settings changed and are in force (after the choice of a theme, a size, the chapter
    /// list).
    void SettingsApplied();
    /// The settings file could not be written: `notice` says that the choice will not be kept.
    void SaveFailed(const QString& notice);

  private:
    void AddChoices(const QFont& menuFont, size_t option);
    void AddZoomCommands();
    void Choose(size_t option, int value);
    void RememberZoom(int percent);
    void Apply();
    void CheckChoices();
    void Save();

    std::u16string programFolder_;
    CDlgHtml& browserPanel_;
    ReadingSettings settings_;
    QMenu* menu_ = nullptr;
    // One group of choices per reading option, in the order of the options.
    std::array<QActionGroup*, 3> choices_{};
    QAction* chapterListAction_ = nullptr;
};

} // namespace velunor
