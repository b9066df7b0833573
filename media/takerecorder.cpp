#include "media/takerecorder.h"

#include <QAudioDevice>
#include <QAudioSource>
#include <QDebug>
#include <QFile>
#include <QMediaDevices>
#include <QProcess>

namespace {

// What ffmpeg calls the raw samples Qt hands over.
QString rawFormatName(QAudioFormat::SampleFormat format)
{
    switch (format) {
    case QAudioFormat::UInt8:
        return "u8";
    case QAudioFormat::Int32:
        return "s32le";
    case QAudioFormat::Float:
        return "f32le";
    default:
        return "s16le";
    }
}

// 16 kHz mono is all a voice needs; a microphone that cannot give it records as it can.
QAudioFormat recordingFormat(const QAudioDevice &device)
{
    QAudioFormat wanted;
    wanted.setSampleRate(16000);
    wanted.setChannelCount(1);
    wanted.setSampleFormat(QAudioFormat::Int16);
    return device.isFormatSupported(wanted) ? wanted : device.preferredFormat();
}

} // namespace

TakeRecorder::TakeRecorder(QObject *parent)
    : QObject(parent)
{
}

// A take being encoded is finished rather than cut off with the window.
TakeRecorder::~TakeRecorder()
{
    stop();
    for (QProcess *finishing : findChildren<QProcess *>())
        finishing->waitForFinished(3000);
}

QString TakeRecorder::microphoneProblem()
{
    return QMediaDevices::audioInputs().isEmpty() ? QString("没有找到麦克风") : QString();
}

bool TakeRecorder::start(const QString &takePath)
{
    stop();
    const QAudioDevice device = QMediaDevices::defaultAudioInput();
    if (device.isNull()) {
        fail("没有找到麦克风");
        return false;
    }
    format = recordingFormat(device);
    path = takePath;
    encoder = new QProcess(this);
    encoder->setProcessChannelMode(QProcess::ForwardedErrorChannel);
    encoder->start("ffmpeg", {"-hide_banner",
                              "-nostats",
                              "-loglevel",
                              "error",
                              "-y",
                              "-f",
                              rawFormatName(format.sampleFormat()),
                              "-ar",
                              QString::number(format.sampleRate()),
                              "-ac",
                              QString::number(format.channelCount()),
                              "-i",
                              "pipe:0",
                              "-ac",
                              "1",
                              "-c:a",
                              "libopus",
                              "-b:a",
                              "32k",
                              path});
    if (!encoder->waitForStarted(5000)) {
        encoder->deleteLater();
        fail("无法启动 ffmpeg，录音不可用");
        return false;
    }
    source = new QAudioSource(device, format, this);
    connect(source, &QAudioSource::stateChanged, this, &TakeRecorder::onSourceStateChanged);
    // Qt writes the samples into ffmpeg's standard input as they come.
    source->start(encoder);
    if (source->error() != QAudio::NoError) {
        fail("麦克风无法打开（可能被拒绝使用）");
        return false;
    }
    return true;
}

void TakeRecorder::stop()
{
    if (!source)
        return;
    source->disconnect(this);
    const qint64 durationMs = source->processedUSecs() / 1000;
    source->stop();
    source->deleteLater();
    source = nullptr;
    QProcess *finishing = encoder;
    if (!finishing)
        return;
    const QString written = path;
    connect(finishing, &QProcess::finished, this, [this, finishing, written, durationMs](int code) {
        finishing->deleteLater();
        if (code == 0 && QFile::exists(written))
            emit finished(written, durationMs);
        else
            emit failed("录音无法写入：" + written);
    });
    // The encoder ends with its input; the file is complete when it has.
    finishing->closeWriteChannel();
}

void TakeRecorder::onSourceStateChanged()
{
    if (source && source->error() != QAudio::NoError)
        fail("麦克风无法打开（可能被拒绝使用）");
}

// Nothing is kept of a take that could not be made.
void TakeRecorder::fail(const QString &message)
{
    if (source) {
        source->disconnect(this);
        source->stop();
        source->deleteLater();
        source = nullptr;
    }
    if (encoder) {
        encoder->disconnect(this);
        encoder->kill();
        encoder->waitForFinished(1000);
        encoder->deleteLater();
        QFile::remove(path);
    }
    qDebug() << "录音失败:" << message;
    emit failed(message);
}
