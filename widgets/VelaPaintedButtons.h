// Two product-screen buttons that draw themselves in the skin's colours instead of
// taking their look from the style sheet.
//
//   VelaPlayButton       a round play/pause button; checked means playing (pause shown)
//   VelaDevFilterButton  a funnel glyph that filters a device list, accented while
//                        checked (a filter is active), with its text beside the glyph
//
// Both are square (or, with text, as wide as the text needs) at the skin's button
// height, take no focus and show the pointing hand. GUI thread only.
#pragma once

#include <QPushButton>

class VelaPlayButton : public QPushButton
{
    Q_OBJECT

public:
    explicit VelaPlayButton(QWidget *parent = nullptr);

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent *e) override;
};

class VelaDevFilterButton : public QPushButton
{
    Q_OBJECT

public:
    explicit VelaDevFilterButton(QWidget *parent = nullptr);

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent *e) override;

private:
    int GlyphSize() const;
};
