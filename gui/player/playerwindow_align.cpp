#include "gui/player/playerwindow.h"

#include "core/align/sentencealignment.h"
#include "core/align/speechanalysistask.h"

#include "ui_playerwindow.h"

#include <QDebug>
#include <QGraphicsProxyWidget>
#include <QGraphicsScene>
#include <QGraphicsView>
#include <QProgressBar>
#include <QTimer>

// Aligning sentences to the speech: the analysis of the lesson's sound runs on a thread of the
// pool with its progress over the video; its result moves the current sentence's times (A) or
// every sentence's (Shift+A), written back as the timing keys do.

namespace {

// How long the number of sentences moved stays over the video.
constexpr int alignNoticeMs = 4000;

} // namespace

void PlayerWindow::createAlignControls()
{
    align.task = new SpeechAnalysisTask(this);
    connect(align.task, &SpeechAnalysisTask::progress, this, &PlayerWindow::showAlignProgress);
    connect(align.task, &SpeechAnalysisTask::finished, this, &PlayerWindow::applyAlignment);
    connect(ui->btnAlignSentence, &QPushButton::clicked, this,
            [this] { startAlignment(session->currentSentence()); });
    connect(ui->btnAlignLesson, &QPushButton::clicked, this, [this] { startAlignment(-1); });

    align.bar = new QProgressBar;
    align.bar->setObjectName("alignBar");
    align.bar->setFixedSize(200, 20);
    align.bar->setRange(0, 100);
    align.bar->setAlignment(Qt::AlignCenter);
    align.bar->setStyleSheet(
        "QProgressBar { background: rgba(0,0,0,100); color: white; border-radius: 10px; }"
        "QProgressBar::chunk { background: #C08030; border-radius: 10px; }");
    video.scene->addWidget(align.bar)->setZValue(100);
    align.bar->hide();
    align.noticeTimer = new QTimer(this);
    align.noticeTimer->setSingleShot(true);
    connect(align.noticeTimer, &QTimer::timeout, align.bar, &QWidget::hide);
}

// onlySentence: the sentence to align, or -1 for every one.
void PlayerWindow::startAlignment(int onlySentence)
{
    const QList<SubtitleItem> &sentences = session->sentences();
    if (sentences.isEmpty() || (onlySentence >= 0 && onlySentence >= sentences.size()) ||
        align.task->isRunning())
        return;
    align.sentence = onlySentence;
    ui->btnAlignSentence->setEnabled(false);
    ui->btnAlignLesson->setEnabled(false);
    align.noticeTimer->stop();
    showAlignProgress(0);
    // At the top of what the view shows, whatever the video's size.
    const QRectF shown = ui->videoView->mapToScene(ui->videoView->viewport()->rect()).boundingRect();
    align.bar->graphicsProxyWidget()->setPos(shown.center().x() - align.bar->width() / 2.0, shown.top() + 10);
    align.bar->show();
    align.task->start(lesson.file);
}

void PlayerWindow::showAlignProgress(int percent)
{
    align.bar->setValue(percent);
    align.bar->setFormat(QString("分析语音 %1%").arg(percent));
}

void PlayerWindow::applyAlignment(const SpeechAnalysis &analysis)
{
    ui->btnAlignSentence->setEnabled(true);
    ui->btnAlignLesson->setEnabled(true);
    if (analysis.status != SpeechAnalysisStatus::Done) {
        align.bar->hide();
        qDebug() << "对齐失败:" << analysis.message;
        // Over the video: playback goes on, and nothing has changed.
        showNotice("无法对齐：" + analysis.message);
        return;
    }
    const SentenceAlignment aligned =
        alignToSpeech(speechSegments(analysis.activity), analysis.activity.durationMs(), session->sentences(),
                      align.sentence);
    const int moved = int(aligned.moved.size());
    qDebug() << "对齐:" << (align.sentence < 0 ? "全部" : "本句") << "移动" << moved << "句";
    align.bar->setValue(100);
    align.bar->setFormat(align.sentence >= 0
                             ? (aligned.moved.isEmpty() ? "本句无需对齐" : "本句已对齐")
                             : QString("已对齐 %1 / %2 句").arg(moved).arg(session->sentences().size()));
    align.noticeTimer->start(alignNoticeMs);
    if (aligned.moved.isEmpty())
        return;
    session->setSentenceTimes(aligned.sentences);
    saveCorrectedTimes();
}
