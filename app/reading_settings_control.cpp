#include "app/reading_settings_control.h"

#include "app/dlg_html.h"
#include "library/library.h"

#include <QActionGroup>
#include <QMenu>

#include <span>

namespace velunor {

namespace {

// One choice of a reading option: its menu text and its value in the settings.
struct ReadingChoice {
    const char16_t* caption;
    int value;
};

constexpr std::array<ReadingChoice, 8> kFontSizes{{{u"14 像素", 14},
                                                   {u"16 像素", 16},
                                                   {u"18 像素", 18},
                                                   {u"20 像素", 20},
                                                   {u"22 像素", 22},
                                                   {u"24 像素", 24},
                                                   {u"28 像素", 28},
                                                   {u"32 像素", 32}}};
constexpr std::array<ReadingChoice, 5> kLineSpacings{
    {{u"1.5 倍", 150}, {u"1.7 倍", 170}, {u"1.9 倍", 190}, {u"2.2 倍", 220}, {u"2.5 倍", 250}}};
constexpr std::array<ReadingChoice, 3> kThemes{{{u"白天", static_cast<int>(ReadingTheme::Day)},
                                                {u"护眼", static_cast<int>(ReadingTheme::Sepia)},
                                                {u"夜间", static_cast<int>(ReadingTheme::Night)}}};

// A submenu of the reading settings menu and the setting its choices read and write.
struct ReadingOption {
    const char16_t* title;
    std::span<const ReadingChoice> choices;
    int (*get)(const ReadingSettings&);
    void (*set)(ReadingSettings&, int);
};

const std::array<ReadingOption, 3> kReadingOptions{{
    {u"字号", kFontSizes, [](const ReadingSettings& settings) { return settings.FontSize; },
     [](ReadingSettings& settings, int value) { settings.FontSize = value; }},
    {u"行距", kLineSpacings, [](const ReadingSettings& settings) { return settings.LineSpacing; },
     [](ReadingSettings& settings, int value) { settings.LineSpacing = value; }},
    {u"主题", kThemes,
     [](const ReadingSettings& settings) { return static_cast<int>(settings.Theme); },
     [](ReadingSettings& settings, int value) {
         settings.Theme = static_cast<ReadingTheme>(value);
     }},
}};

QString Text(const std::u16string& text) {
    return QString::fromStdU16String(text);
}

} // namespace

CReadingSettingsControl::CReadingSettingsControl(std::u16string programFolder,
                                                 CDlgHtml& browserPanel, const QFont& menuFont,
                                                 QWidget* menuParent)
    : QObject(menuParent), programFolder_(std::move(programFolder)), browserPanel_(browserPanel),
      menu_(new QMenu(QStringLiteral("阅读设置"), menuParent)) {
    menu_->setFont(menuFont);
    for (size_t option = 0; option < kReadingOptions.size(); ++option) {
        AddChoices(menuFont, option);
    }
    AddZoomCommands();
    menu_->addSeparator();
    chapterListAction_ = menu_->addAction(QStringLiteral("章节目录栏\tF9"));
    chapterListAction_->setCheckable(true);
    connect(chapterListAction_, &QAction::triggered, this,
            &CReadingSettingsControl::ToggleChapterList);
    connect(&browserPanel_, &CDlgHtml::ZoomChanged, this, &CReadingSettingsControl::RememberZoom);

    settings_ = LoadReadingSettings(programFolder_);
    browserPanel_.SetZoomPercent(settings_.ZoomPercent);
    Apply();
}

QMenu& CReadingSettingsControl::Menu() {
    return *menu_;
}

void CReadingSettingsControl::ShowMenuBelow(const QWidget& button) {
    menu_->popup(button.mapToGlobal(QPoint(0, button.height())));
}

const ReadingSettings& CReadingSettingsControl::Settings() const {
    return settings_;
}

void CReadingSettingsControl::ToggleChapterList() {
    settings_.ChapterList = !settings_.ChapterList;
    Apply();
    Save();
}

// The choices of one option form a group of which the one the settings hold is checked; a value
// the file held that no choice offers leaves none checked.
void CReadingSettingsControl::AddChoices(const QFont& menuFont, size_t option) {
    QMenu* choices = menu_->addMenu(Text(kReadingOptions[option].title));
    auto* group = new QActionGroup(choices);
    group->setExclusionPolicy(QActionGroup::ExclusionPolicy::ExclusiveOptional);
    for (const ReadingChoice& choice : kReadingOptions[option].choices) {
        QAction* action = choices->addAction(Text(choice.caption));
        action->setCheckable(true);
        action->setData(choice.value);
        group->addAction(action);
        connect(action, &QAction::triggered, this,
                [this, option, value = choice.value] { Choose(option, value); });
    }
    choices_[option] = group;
    // A menu is a window of its own and takes no font from the window it belongs to.
    choices->setFont(menuFont);
}

void CReadingSettingsControl::AddZoomCommands() {
    menu_->addSeparator();
    connect(menu_->addAction(QStringLiteral("放大\tCtrl+=")), &QAction::triggered, &browserPanel_,
            &CDlgHtml::ZoomIn);
    connect(menu_->addAction(QStringLiteral("缩小\tCtrl+-")), &QAction::triggered, &browserPanel_,
            &CDlgHtml::ZoomOut);
    connect(menu_->addAction(QStringLiteral("还原大小\tCtrl+0")), &QAction::triggered,
            &browserPanel_, &CDlgHtml::ResetZoom);
}

void CReadingSettingsControl::Choose(size_t option, int value) {
    ReadingSettings changed = settings_;
    kReadingOptions[option].set(changed, value);
    if (changed == settings_) {
        // A click on the checked choice unchecks it; the settings have not changed, so it is
        // checked again.
        CheckChoices();
        return;
    }
    settings_ = changed;
    Apply();
    Save();
}

void CReadingSettingsControl::RememberZoom(int percent) {
    settings_.ZoomPercent = percent;
    Save();
}

// Every library page shows the settings from the next page on, and the page shown at once; the
// menu shows them too.
void CReadingSettingsControl::Apply() {
    browserPanel_.SetLibraryLook(Text(NovelRootFolder(programFolder_)),
                                 Text(ReadingStyleSheet(settings_)));
    CheckChoices();
    emit SettingsApplied();
}

void CReadingSettingsControl::CheckChoices() {
    for (size_t option = 0; option < kReadingOptions.size(); ++option) {
        const int current = kReadingOptions[option].get(settings_);
        for (QAction* action : choices_[option]->actions()) {
            action->setChecked(action->data().toInt() == current);
        }
    }
    chapterListAction_->setChecked(settings_.ChapterList);
}

// A settings file that cannot be written leaves the pages as chosen for this run.
void CReadingSettingsControl::Save() {
    if (!SaveReadingSettings(programFolder_, settings_)) {
        emit SaveFailed(QStringLiteral("阅读设置无法保存到 Config/ReadingSettings.xml，"
                                       "下次启动时将恢复原来的设置。"));
    }
}

} // namespace velunor
