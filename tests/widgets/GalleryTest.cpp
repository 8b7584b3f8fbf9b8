// The gallery: every widget family laid out as a product screen would use it, grabbed
// to build/screenshots/<family>.png for a look by eye, plus pixel checks of the colours
// the style sheet gives each class and state.
#include "GalleryTest.h"

#include "SkinKeys.h"
#include "TextIds.h"
#include "TextTable.h"
#include "VelaBottomBar.h"
#include "VelaButtons.h"
#include "VelaFileButton.h"
#include "VelaKbdLineEdit.h"
#include "VelaLabels.h"
#include "VelaLineEdit.h"
#include "VelaLoading.h"
#include "VelaPaintedButtons.h"
#include "VelaShadow.h"
#include "VelaSkin.h"
#include "VelaStatusWidget.h"

#include <QApplication>
#include <QDir>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QTest>
#include <QVBoxLayout>

#include <memory>

namespace {

const QString LongText = QStringLiteral("A caption much too long to fit into the width it was given");
const QString LongPath = QStringLiteral("/media/recordings/2024-05-14/entrance-camera/export_0001.wvr");

// A white window with the skin's spacing, the way a dialog's content looks.
std::unique_ptr<QWidget> Window(const QSize &size)
{
    auto window = std::make_unique<QWidget>();
    window->setFixedSize(size);
    QPalette palette = window->palette();
    palette.setColor(QPalette::Window, VelaSkin::Instance()->GetColor(Skin::GENERAL::WINDOW_BG_COLOR));
    window->setPalette(palette);
    window->setAutoFillBackground(true);
    return window;
}

// hovered: a widget to put the mouse over before the grab.
QImage Render(QWidget *window, const QString &name, QWidget *hovered = nullptr)
{
    window->show();
    QApplication::setActiveWindow(window);    // hover and focus looks need an active window
    if (!QTest::qWaitForWindowExposed(window))
        qWarning("%s was not exposed", qPrintable(name));
    if (hovered)
        QTest::mouseMove(hovered);
    QApplication::processEvents();
    const QImage image = window->grab().toImage();
    QString folder = QStringLiteral(WVC_SCREENSHOT_DIR);
    if (image.devicePixelRatio() > 1.0)
        folder += QStringLiteral("/2x");
    QDir().mkpath(folder);
    image.save(folder + QLatin1Char('/') + name + QStringLiteral(".png"));
    return image;
}

// The colour at a widget's point, within a small tolerance for anti-aliasing.
bool NearColour(const QImage &image, QWidget *window, QWidget *widget, QPoint point, const QColor &expected)
{
    const QColor actual = image.pixelColor(widget->mapTo(window, point) * image.devicePixelRatio());
    const int tolerance = 6;
    const bool near = qAbs(actual.red() - expected.red()) <= tolerance
                      && qAbs(actual.green() - expected.green()) <= tolerance
                      && qAbs(actual.blue() - expected.blue()) <= tolerance;
    if (!near)
        qWarning("%s: %s instead of %s", widget->metaObject()->className(), qPrintable(actual.name()),
                 qPrintable(expected.name()));
    return near;
}

// A point of a button's background, clear of its border, rounded corner and text.
QPoint Background(QWidget *button)
{
    return QPoint(4, button->height() / 2);
}

template <class Button>
Button *AddButton(QGridLayout *grid, int row, int column, const QString &text)
{
    auto *button = new Button(grid->parentWidget());
    button->setText(text);
    grid->addWidget(button, row, column);
    return button;
}

} // namespace

void GalleryTest::buttonsTakeTheirClassColours()
{
    auto window = Window(QSize(560, 300));
    auto *grid = new QGridLayout(window.get());
    grid->setContentsMargins(20, 20, 20, 20);
    grid->setHorizontalSpacing(14);
    grid->setVerticalSpacing(14);
    const QString ok = TextById(TextId::WL_COMMON_COMMON_OK);
    const QString cancel = TextById(TextId::WL_COMMON_COMMON_CANCEL);

    auto *grey = AddButton<VelaButton>(grid, 0, 0, TextById(TextId::WL_COMMON_CHOOSE));
    auto *white = AddButton<VelaWhiteButton>(grid, 0, 1, cancel);
    auto *blue = AddButton<VelaBlueButton>(grid, 0, 2, ok);
    auto *red = AddButton<VelaRedButton>(grid, 0, 3, TextById(TextId::WL_COMMON_SUBMIT));

    auto *hovered = AddButton<VelaButton>(grid, 1, 0, TextById(TextId::WL_CLIENT_CHANGE_FOLDER));
    auto *pressed = AddButton<VelaWhiteButton>(grid, 1, 1, cancel);
    pressed->setDown(true);
    auto *disabledBlue = AddButton<VelaBlueButton>(grid, 1, 2, ok);
    disabledBlue->setEnabled(false);
    auto *yellow = AddButton<VelaYellowButton>(grid, 1, 3, TextById(TextId::KIOSKVIEW_KV_UPGRADE));

    auto *file = new VelaFileButton(window.get());
    file->setText(TextById(TextId::WL_COMMON_CHOOSE));
    grid->addWidget(file, 2, 0);
    auto *blueFile = new VelaBlueFileButton(window.get());
    blueFile->setText(TextById(TextId::WL_COMMON_COMMON_OPEN));
    grid->addWidget(blueFile, 2, 1);
    auto *toggle = AddButton<VelaToggleButton>(grid, 2, 2, TextById(TextId::WL_COMMON_COMMON_EDIT));
    toggle->setChecked(true);
    auto *elided = AddButton<VelaButton>(grid, 2, 3, LongText);
    elided->setMaximumWidth(180);    // its size hint asks for the whole text

    auto *flat = AddButton<VelaFlatButton>(grid, 3, 0, TextById(TextId::WL_COMMON_COMMON_RESET));
    Q_UNUSED(flat);
    auto *icon = new VelaIconButton(window.get());
    icon->setFixedSize(24, 24);
    icon->setIcon(QIcon(VelaSkin::Instance()->GetImage(Skin::ICON::ICON_INFO)));
    icon->setIconSize(QSize(24, 24));
    grid->addWidget(icon, 3, 1, Qt::AlignLeft);
    auto *trigger = AddButton<VelaTriggerButton>(grid, 3, 2, TextById(TextId::WL_COMMON_LANGUAGE_ENU));
    auto *illegalTrigger = AddButton<VelaTriggerButton>(grid, 3, 3, TextById(TextId::WL_COMMON_LANGUAGE_DAN));
    illegalTrigger->SetLegal(false);

    // An option list: entries, a separator, a checked entry.
    auto *options = new QWidget(window.get());
    auto *optionLayout = new QVBoxLayout(options);
    optionLayout->setContentsMargins(0, 0, 0, 0);
    optionLayout->setSpacing(0);
    auto *first = new VelaTickButton(TextById(TextId::WL_COMMON_LANGUAGE_GER), options);
    auto *second = new VelaTickButton(TextById(TextId::WL_COMMON_LANGUAGE_FRE), options);
    second->setChecked(true);
    optionLayout->addWidget(first);
    optionLayout->addWidget(new VelaMenuSeparator(options));
    optionLayout->addWidget(second);
    auto *option = new VelaOption(options);
    option->setText(TextById(TextId::WL_COMMON_LANGUAGE_ITA));
    optionLayout->addWidget(option);
    grid->addWidget(options, 4, 0, 1, 2);

    auto *painted = new QWidget(window.get());
    auto *paintedLayout = new QHBoxLayout(painted);
    paintedLayout->setContentsMargins(0, 0, 0, 0);
    auto *play = new VelaPlayButton(painted);
    auto *playing = new VelaPlayButton(painted);
    playing->setChecked(true);
    auto *filter = new VelaDevFilterButton(painted);
    filter->setText(TextById(TextId::CAMERA_CAMERA_SEARCH_BTN));
    paintedLayout->addWidget(play);
    paintedLayout->addWidget(playing);
    paintedLayout->addWidget(filter);
    paintedLayout->addStretch();
    grid->addWidget(painted, 4, 2, 1, 2, Qt::AlignTop);

    const QImage image = Render(window.get(), QStringLiteral("buttons"), hovered);
    QWidget *w = window.get();
    QVERIFY(NearColour(image, w, grey, Background(grey), QColor(0xF5, 0xF6, 0xFA)));
    QVERIFY(NearColour(image, w, white, Background(white), QColor(0xF5, 0xF6, 0xFA)));
    QVERIFY(NearColour(image, w, blue, Background(blue), QColor(0x4B, 0xAE, 0xFA)));
    QVERIFY(NearColour(image, w, red, Background(red), QColor(0xEB, 0x5F, 0x5F)));
    QVERIFY(NearColour(image, w, yellow, Background(yellow), QColor(0xF2, 0xA1, 0x00)));
    QVERIFY(NearColour(image, w, pressed, Background(pressed), QColor(0x54, 0x9A, 0xD8)));
    QVERIFY(NearColour(image, w, disabledBlue, Background(disabledBlue), QColor(0x5C, 0xA9, 0xED)));
    QVERIFY(NearColour(image, w, blueFile, Background(blueFile), QColor(0x4B, 0xAE, 0xFA)));
    QVERIFY(NearColour(image, w, file, Background(file), QColor(0xF5, 0xF6, 0xFA)));
    // The hovered grey button's border turns to the accent.
    QVERIFY(NearColour(image, w, hovered, QPoint(0, hovered->height() / 2), QColor(0x00, 0x79, 0xBC)));
    QVERIFY(NearColour(image, w, illegalTrigger, QPoint(0, illegalTrigger->height() / 2),
                       VelaSkin::Instance()->GetColor(Skin::GENERAL::WARNING_COLOR)));
    QVERIFY(elided->text().endsWith(QChar(0x2026)));
    Q_UNUSED(trigger);
}

void GalleryTest::lineEditsShowTheirStates()
{
    auto window = Window(QSize(420, 250));
    auto *layout = new QVBoxLayout(window.get());
    layout->setContentsMargins(20, 20, 20, 20);
    layout->setSpacing(10);

    auto *path = new VelaLineEdit(window.get(), VelaLineEdit::Text, false, -1);
    path->setText(LongPath);
    auto *placeholder = new VelaLineEdit(window.get(), VelaLineEdit::Ipv4Address);
    placeholder->setPlaceholderText(QStringLiteral("192.168.0.1"));
    auto *illegal = new VelaLineEdit(window.get(), VelaLineEdit::Text, false, -1);
    illegal->Validate();
    auto *cleared = new VelaLineEdit(window.get(), VelaLineEdit::Text);
    cleared->EnableClearButton(true);
    cleared->setText(TextById(TextId::WL_CLIENT_VIDEO_TRANSCODER_NAME));
    auto *disabled = new VelaLineEdit(window.get());
    disabled->setText(LongPath);
    disabled->setEnabled(false);
    auto *keyboard = new VelaKbdLineEdit(window.get(), VelaLineEdit::Port);
    keyboard->setText(QStringLiteral("554"));
    for (QWidget *field : {static_cast<QWidget *>(path), static_cast<QWidget *>(placeholder),
                           static_cast<QWidget *>(illegal), static_cast<QWidget *>(cleared),
                           static_cast<QWidget *>(disabled), static_cast<QWidget *>(keyboard)})
        layout->addWidget(field);

    const QImage image = Render(window.get(), QStringLiteral("lineedits"));
    QWidget *w = window.get();
    QVERIFY(NearColour(image, w, path, QPoint(path->width() - 3, path->height() / 2), QColor(0xE9, 0xEE, 0xF2)));
    QVERIFY(NearColour(image, w, illegal, QPoint(0, illegal->height() / 2), QColor(0xFA, 0x4B, 0x4B)));
    QVERIFY(NearColour(image, w, placeholder, QPoint(0, placeholder->height() / 2), QColor(0xBF, 0xBF, 0xBF)));
    // The field with the focus has the accent border.
    QVERIFY(NearColour(image, w, path, QPoint(0, path->height() / 2), QColor(0x00, 0x79, 0xBC)));
    QVERIFY(NearColour(image, w, disabled, QPoint(disabled->width() - 3, disabled->height() / 2),
                       QColor(0xEB, 0xEE, 0xF0)));
    QVERIFY(cleared->ClearButton()->isVisible());
}

void GalleryTest::labelsAndStatusLinesTakeTheirColours()
{
    auto window = Window(QSize(520, 330));
    auto *layout = new QVBoxLayout(window.get());
    layout->setContentsMargins(20, 10, 20, 10);
    layout->setSpacing(0);

    auto *plain = new VelaElideLabel(TextById(TextId::WL_COMMON_SOURCE) + QLatin1Char(':'), window.get());
    auto *highlighted = new VelaElideLabel(TextById(TextId::WL_CLIENT_VIDEO_TRANSCODER_NAME), window.get());
    highlighted->SetHighlight(true);
    auto *elided = new VelaElideLabel(LongText + QLatin1Char(' ') + LongText, window.get());
    auto *disabled = new VelaElideLabel(TextById(TextId::WL_CLIENT_VIDEO_TRANSCODER_FILE_LOCATION), window.get());
    disabled->setEnabled(false);
    auto *note = new VelaNoteLabel(TextById(TextId::WL_COMMON_PRESS_SAVE_TO_APPLY), window.get());
    for (QWidget *label : {static_cast<QWidget *>(plain), static_cast<QWidget *>(highlighted),
                           static_cast<QWidget *>(elided), static_cast<QWidget *>(disabled),
                           static_cast<QWidget *>(note)})
        layout->addWidget(label);

    auto *loadingBar = new VelaBottomBar(window.get());
    loadingBar->AddRightButton(VelaBottomBar::Ok);
    loadingBar->AddRightButton(VelaBottomBar::Cancel);
    loadingBar->SlotShowLoading(TextById(TextId::WL_CLIENT_VIDEO_TRANSCODER_TRANSCODING) + QStringLiteral("..."));
    auto *warningBar = new VelaBottomBar(window.get());
    warningBar->AddLeftButton(VelaBottomBar::Reset);
    warningBar->AddRightButton(VelaBottomBar::Save);
    warningBar->SlotShowStatus(STATUS_ID_FORM_INVALID);
    auto *successBar = new VelaBottomBar(window.get());
    successBar->AddRightButton(VelaBottomBar::Submit);
    successBar->SlotShowSuccess(TextById(TextId::WL_CLIENT_VIDEO_TRANSCODER_TRANSCODE_SUCCESS));
    layout->addStretch();
    layout->addWidget(loadingBar);
    layout->addWidget(warningBar);
    layout->addWidget(successBar);

    Render(window.get(), QStringLiteral("labels_status"));
    QCOMPARE(plain->palette().color(QPalette::WindowText), QColor(0x36, 0x43, 0x4D));
    QCOMPARE(highlighted->palette().color(QPalette::WindowText), QColor(0x00, 0xCC, 0xFF));
    QCOMPARE(note->palette().color(QPalette::WindowText), QColor(0x57, 0x5D, 0x61));
    auto statusColour = [](VelaBottomBar *bar) {
        return bar->StatusWidget()->findChild<VelaElideLabel *>()->palette().color(QPalette::WindowText);
    };
    QCOMPARE(statusColour(loadingBar), QColor(0x00, 0x79, 0xBC));
    QCOMPARE(statusColour(warningBar), QColor(0xFA, 0x4B, 0x4B));
    QCOMPARE(statusColour(successBar), QColor(0x1C, 0xA6, 0x00));
    QVERIFY(elided->text().endsWith(QChar(0x2026)));
}

void GalleryTest::maskDimsTheConverterWindow()
{
    // The converter's window as it will be laid out, with the mask over it.
    auto window = Window(QSize(550, 180));
    auto *content = new QWidget(window.get());
    content->setFixedSize(550, 180);
    auto *about = new VelaIconButton(content);
    about->setFixedSize(24, 24);
    about->setIcon(QIcon(VelaSkin::Instance()->GetImage(Skin::ICON::ICON_INFO)));
    about->setIconSize(QSize(24, 24));
    auto *sourceLabel = new VelaElideLabel(TextById(TextId::WL_COMMON_SOURCE) + QLatin1Char(':'), content);
    auto *targetLabel =
        new VelaElideLabel(TextById(TextId::WL_CLIENT_VIDEO_TRANSCODER_FILE_LOCATION) + QLatin1Char(':'), content);
    auto *source = new VelaLineEdit(content, VelaLineEdit::Text, false, -1);
    source->setText(LongPath);
    auto *target = new VelaLineEdit(content, VelaLineEdit::Text, false, -1);
    target->setText(QStringLiteral("/media/recordings/2024-05-14"));
    auto *sourceButton = new VelaFileButton(content, false, false, false);
    sourceButton->setText(TextById(TextId::WL_COMMON_CHOOSE));
    auto *targetButton = new VelaFileButton(content, false, true, false);
    targetButton->setText(TextById(TextId::WL_CLIENT_CHANGE_FOLDER));
    auto *bar = new VelaBottomBar(content);
    bar->AddRightButton(VelaBottomBar::Ok);

    auto *grid = new QGridLayout;
    grid->setContentsMargins(0, 10, 0, 0);
    grid->setVerticalSpacing(4);
    grid->setHorizontalSpacing(10);
    grid->setColumnStretch(0, 140);
    grid->setColumnStretch(1, 310);
    grid->setColumnStretch(2, 100);
    grid->setRowStretch(4, 1);
    grid->addWidget(about, 0, 0, 1, -1, Qt::AlignRight);
    grid->addWidget(sourceLabel, 1, 0);
    grid->addWidget(source, 1, 1, Qt::AlignVCenter);
    grid->addWidget(sourceButton, 1, 2, Qt::AlignVCenter);
    grid->addWidget(targetLabel, 2, 0);
    grid->addWidget(target, 2, 1, Qt::AlignVCenter);
    grid->addWidget(targetButton, 2, 2, Qt::AlignVCenter);
    auto *column = new QVBoxLayout(content);
    column->setContentsMargins(12, 0, 12, 0);
    column->addLayout(grid);
    column->addStretch(1);
    column->addWidget(bar);

    bar->SlotShowSuccess(TextById(TextId::WL_CLIENT_VIDEO_TRANSCODER_TRANSCODE_SUCCESS), 0);
    const QImage plain = Render(window.get(), QStringLiteral("converter"));

    bar->SlotShowLoading(TextById(TextId::WL_CLIENT_VIDEO_TRANSCODER_TRANSCODING) + QStringLiteral("..."), 0);
    auto *mask = new VelaLoadingMask(window.get());
    mask->ShowMask(true);
    const QImage masked = Render(window.get(), QStringLiteral("converter_masked"));
    QCOMPARE(mask->geometry(), QRect(0, 0, 550, 180));

    // Half-transparent light grey over white stays near white; over the blue button it
    // is a blend of both.
    QWidget *ok = bar->button(VelaBottomBar::Ok);
    const QPoint onOk = ok->mapTo(window.get(), Background(ok)) * plain.devicePixelRatio();
    const QColor before = plain.pixelColor(onOk);
    const QColor after = masked.pixelColor(onOk);
    QVERIFY(after.red() > before.red());
    QVERIFY(after != before);

    mask->LoadingWidget()->SetInfoStyle(true);
    Render(window.get(), QStringLiteral("converter_masked_info"));
}

void GalleryTest::shadowsDarkenAroundTheirTargets()
{
    auto window = Window(QSize(460, 200));
    auto *panel = new QWidget(window.get());
    panel->setGeometry(30, 30, 120, 120);
    panel->setAutoFillBackground(true);
    new VelaWidgetShadow(panel, window.get());
    auto *windowPanel = new QWidget(window.get());
    windowPanel->setGeometry(180, 30, 120, 120);
    windowPanel->setAutoFillBackground(true);
    new VelaWindowShadow(windowPanel);
    auto *list = new QWidget(window.get());
    list->setGeometry(330, 30, 100, 120);
    list->setAutoFillBackground(true);
    new VelaCmbShadow(list);
    for (QWidget *target : {panel, windowPanel, list}) {
        QPalette palette = target->palette();
        palette.setColor(QPalette::Window, VelaSkin::Instance()->GetColor(Skin::GENERAL::WINDOW_BG_COLOR));
        target->setPalette(palette);
    }
    QPalette grey = window->palette();
    grey.setColor(QPalette::Window, VelaSkin::Instance()->GetColor(Skin::GENERAL::PANEL_BG_COLOR));
    window->setPalette(grey);

    const QImage image = Render(window.get(), QStringLiteral("shadows"));
    const qreal ratio = image.devicePixelRatio();
    const QColor outside = image.pixelColor(QPoint(10, 190) * ratio);
    // Just below each target the shadow is darker than the bare window.
    for (QWidget *target : {panel, windowPanel, list}) {
        const QPoint below(target->geometry().center().x(), target->geometry().bottom() + 1);
        const QColor shade = image.pixelColor(below * ratio);
        QVERIFY2(shade.lightness() < outside.lightness(), target->metaObject()->className());
    }
}
