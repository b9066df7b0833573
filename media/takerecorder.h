#pragma once

#include <QAudioFormat>
#include <QObject>
#include <QPointer>
#include <QString>

class QAudioSource;
class QProcess;

// Records the default microphone into a file: Qt Multimedia reads the sound, ffmpeg encodes it
// (Opus) as it comes. One take at a time; a take still being written when the next starts is
// finished in the background.
class TakeRecorder : public QObject
{
    Q_OBJECT

public:
    explicit TakeRecorder(QObject *parent = nullptr);
    ~TakeRecorder() override;

    // Why nothing can be recorded (no microphone), empty when a microphone is there.
    static QString microphoneProblem();

    // Starts a take into path; false (and failed()) when the microphone cannot be opened.
    bool start(const QString &path);
    // Ends the take; finished() follows once the file is complete.
    void stop();
    bool isRecording() const { return source != nullptr; }

signals:
    void finished(const QString &path, qint64 durationMs);
    void failed(const QString &message);

private:
    void onSourceStateChanged();
    void fail(const QString &message);
    QAudioSource *source = nullptr;
    QPointer<QProcess> encoder;
    QString path;
    QAudioFormat format;
};
