#pragma once
// Skinned controls: the flat push button of the main window's tool row.
//
// CSkinButton draws itself: a flat face that lights up while the pointer is over it, an optional
// icon left of the caption (or centred when there is no caption), a focus rectangle, and an
// embossed caption when disabled. Its six colours can be set one by one and brightened. Like
// every widget it belongs to the GUI thread: every member must be called there.

#include <QAbstractButton>
#include <QColor>
#include <QPixmap>

#include <array>

namespace velunor {

/// The six colours of a button: background and text while lit (hovering or pressed), normally,
/// and while focused.
enum class ButtonColorSlot {
    HoverBackground = 0,
    HoverText = 1,
    NormalBackground = 2,
    NormalText = 3,
    FocusBackground = 4,
    FocusText = 5,
};

/// Asks SetButtonIcon for a grey copy of the first icon as the normal look.
struct GreyIconCopy {};
inline constexpr GreyIconCopy kGreyIconCopy{};

class CSkinButton : public QAbstractButton {
    Q_OBJECT

  public:
    /// A flat button with the palette's button colours, no icon and no caption.
    explicit CSkinButton(QWidget* parent = nullptr);
    /// A flat button with `caption`.
    CSkinButton(const QString& caption, QWidget* parent = nullptr);

    /// `icon1` is shown while lit (and always when `icon2` is null), `icon2` otherwise. Returns 1
    /// and clears both icons when `icon1` is null, 0 after storing them and repainting.
    int SetButtonIcon(const QPixmap& icon1, const QPixmap& icon2 = QPixmap());
    /// As above, with a grey copy of `icon1` (each non-black pixel replaced by its luminance) as
    /// the normal look.
    int SetButtonIcon(const QPixmap& icon1, GreyIconCopy);

    /// The colour in `slot`; at first the palette's button face or button text.
    QColor ButtonColor(ButtonColorSlot slot) const;
    /// Replaces one colour and repaints.
    void SetButtonColor(ButtonColorSlot slot, const QColor& color);
    /// Brightens one colour by the same amount on red, green and blue: 30, or less where a
    /// component would pass 255. Repaints.
    void OffsetButtonColor(ButtonColorSlot slot);

    /// True while the pointer lights the button.
    bool IsLit() const;

    /// The grey copy SetButtonIcon makes: each non-black pixel becomes its luminance
    /// 0.299 R + 0.587 G + 0.114 B; alpha and black pixels are kept.
    static QImage GreyCopy(const QImage& image);
    /// The amount OffsetButtonColor adds to every component of `color`.
    static int BrightenOffset(const QColor& color);

  protected:
    void paintEvent(QPaintEvent* event) override;
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
    void changeEvent(QEvent* event) override;

  private:
    void PointerMoved(Qt::MouseButtons buttons);
    void Darken();
    bool IsPressedLook() const;
    QColor BackgroundColor() const;
    QColor TextColor() const;
    const QPixmap& CurrentIcon() const;
    void DrawIcon(QPainter& painter, const QRect& area, bool shifted) const;
    void DrawCaption(QPainter& painter, const QRect& area, bool shifted) const;

    std::array<QColor, 6> colors_;
    QPixmap icon1_;
    QPixmap icon2_;
    bool lit_ = false;
};

} // namespace velunor
