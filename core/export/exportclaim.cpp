#include "core/export/exportclaim.h"

#include <QDebug>
#include <QDir>

ExportClaim::ExportClaim(const QString &clipDir)
    : m_clipDir(clipDir)
    , m_lock(clipDir + "/.export.lock")
{
    // An export holds the lock for many minutes; only a dead owner makes it stale.
    m_lock.setStaleLockTime(0);
}

std::shared_ptr<ExportClaim> ExportClaim::take(const QString &clipDir, QString *error)
{
    if (!QDir().mkpath(clipDir)) {
        qDebug() << "❌ cannot create directory:" << clipDir;
        *error = "无法创建目录：" + clipDir;
        return {};
    }
    auto claim = std::make_shared<ExportClaim>(clipDir);
    if (claim->m_lock.tryLock(0))
        return claim;
    if (claim->m_lock.error() == QLockFile::LockFailedError) {
        qDebug() << "❌ clip directory in use:" << clipDir;
        *error = "这个文件夹正在由另一个导出使用，请等它完成后再试：\n" + clipDir;
    } else {
        qDebug() << "❌ cannot lock clip directory:" << clipDir;
        *error = "无法在目录中创建锁文件：" + clipDir;
    }
    return {};
}
