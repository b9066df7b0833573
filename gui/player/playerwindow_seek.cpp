#include "gui/player/playerwindow.h"

#include "ui_playerwindow.h"

#include <QProxyStyle>

// The slider: its range follows the play list, and letting it go is a seek of the session.

namespace {

// A click on the slider's groove puts the handle there at once and starts a drag, as in desktop
// players; most styles move it a page towards the click instead.
class JumpToClickStyle : public QProxyStyle
{
public:
    int styleHint(StyleHint hint, const QStyleOption *option, const QWidget *widget,
                  QStyleHintReturn *returnData) const override
    {
        if (hint == SH_Slider_AbsoluteSetButtons)
            return Qt::LeftButton;
        return QProxyStyle::styleHint(hint, option, widget, returnData);
    }
};

} // namespace

void PlayerWindow::updateSliderRange()
{
    const QList<SubtitleItem> &sentences = session->sentences();
    const QList<int> &list = session->playList();
    const auto isSentence = [&](int index) { return index >= 0 && index < sentences.size(); };
    if (!list.isEmpty() && isSentence(list.first()) && isSentence(list.last())) {
        ui->horizontalSlider->setRange(int(sentences.at(list.first()).startMs),
                                       int(sentences.at(list.last()).endMs));
        return;
    }
    ui->horizontalSlider->setRange(0, int(player->duration()));
}

void PlayerWindow::makeSliderJumpOnClick()
{
    // Without a base style the proxy follows the application's style and owns none.
    auto *style = new JumpToClickStyle;
    style->setParent(ui->horizontalSlider);
    ui->horizontalSlider->setStyle(style);
}

void PlayerWindow::onSliderReleased()
{
    session->releaseSlider(ui->horizontalSlider->value());
    layoutSubtitle();
}
