#pragma once

#include <QLockFile>
#include <QString>

#include <atomic>
#include <memory>

// One export's hold on a clip directory: a lock file in it that keeps every other export (in
// another window or in orviloop-export) from cutting or joining clips there, and the request
// to stop that the export's jobs heed. The worker and each of its running jobs share it; the
// lock goes with the last of them, so a stopped export keeps the directory until its last
// ffmpeg has ended.
class ExportClaim
{
public:
    // Null, with what stands in the way for the user, when the directory cannot be made or
    // another export holds it. A lock left by a process that is gone does not count.
    static std::shared_ptr<ExportClaim> take(const QString &clipDir, QString *error);

    explicit ExportClaim(const QString &clipDir);
    const QString &clipDir() const { return m_clipDir; }
    void requestStop() { m_stopRequested = true; }
    const std::atomic_bool &stopRequested() const { return m_stopRequested; }

private:
    QString m_clipDir;
    QLockFile m_lock;
    std::atomic_bool m_stopRequested = false;
};
