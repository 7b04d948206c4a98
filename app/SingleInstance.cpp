#include "app/SingleInstance.h"

#include "platform/Exception.h"
#include "platform/Files.h"

#include <QByteArray>
#include <QCryptographicHash>
#include <QDir>
#include <QFileInfo>
#include <QLocalServer>
#include <QLocalSocket>
#include <QStandardPaths>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace ostrakel {

namespace {

bool UsableDirectory(const QString& dir) {
    const QFileInfo info(dir);
    return !dir.isEmpty() && info.isAbsolute() && info.isDir() && access(QFile::encodeName(dir), W_OK | X_OK) == 0;
}

// $XDG_RUNTIME_DIR is the user's own and emptied at logout; without it, a
// folder of the user's cache directory, private to the user.
QString DefaultRuntimeDirectory() {
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (UsableDirectory(runtime)) return runtime;
    QString cache = qEnvironmentVariable("XDG_CACHE_HOME");
    if (cache.isEmpty() || !QFileInfo(cache).isAbsolute()) cache = QDir::homePath() + "/.cache";
    const QString dir = cache + "/ostrakel";
    QDir().mkpath(dir);
    chmod(QFile::encodeName(dir), 0700);
    if (UsableDirectory(dir)) return dir;
    // Last, a folder of the user's own in the shared temporary directory,
    // used only when it is the user's alone: another user could hold the locks.
    const QString tmp = QDir::tempPath() + "/ostrakel-" + QString::number(getuid());
    ::mkdir(QFile::encodeName(tmp), 0700);
    struct stat st {};
    if (lstat(QFile::encodeName(tmp), &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == getuid() &&
        (st.st_mode & 0077) == 0)
        return tmp;
    return {};
}

int OpenLockFile(const std::string& name) {
    if (name.starts_with('.')) return -1; // no directory for the locks (told once)
    const int fd = ::open(name.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0)
        std::fprintf(stderr, "ostrakel: cannot open the lock file %s: %s\n", name.c_str(), std::strerror(errno));
    return fd;
}

} // namespace

TSingleInstance::TSingleInstance(const std::string& settingsDir, const std::string& runtimeDir) {
    // The same directory under every name it has (a link, "..", a missing "/").
    const QFileInfo info(QString::fromStdString(settingsDir.empty() ? ProgramDirectory() : settingsDir));
    QString canonical = info.canonicalFilePath();
    if (canonical.isEmpty()) canonical = info.absoluteFilePath();
    FSettingsDir = canonical.toStdString();
    const QByteArray hash = QCryptographicHash::hash(canonical.toUtf8(), QCryptographicHash::Sha256).toHex().left(16);
    const QString dir = runtimeDir.empty() ? DefaultRuntimeDirectory() : QString::fromStdString(runtimeDir);
    if (dir.isEmpty())
        std::fprintf(stderr, "ostrakel: no directory of this user's own for the locks of %s; more than one "
                     "program may run with these settings\n", FSettingsDir.c_str());
    else
        FBase = (dir + "/ostrakel-" + QString::fromLatin1(hash)).toStdString();
}

TSingleInstance::~TSingleInstance() {
    if (FServer) FServer->close();
    if (FPassFd >= 0) ::close(FPassFd);
    if (FInstanceFd >= 0) ::close(FInstanceFd);
}

bool TSingleInstance::BecomeTheWindow() {
    if (FInstanceFd >= 0) return true;
    const int fd = OpenLockFile(FBase + ".lock");
    // A lock file that cannot be made leaves the program as it was: one window more.
    if (fd < 0) return true;
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        ::close(fd);
        return false;
    }
    FInstanceFd = fd;
    // The lock is ours, so a socket left behind by a window that died is stale.
    const QString socket = QString::fromStdString(FBase + ".socket");
    QLocalServer::removeServer(socket);
    FServer = std::make_unique<QLocalServer>();
    FServer->setSocketOptions(QLocalServer::UserAccessOption);
    if (!FServer->listen(socket))
        std::fprintf(stderr, "ostrakel: a later start cannot reach this window: %s\n",
                     FServer->errorString().toLocal8Bit().constData());
    connect(FServer.get(), &QLocalServer::newConnection, this, [this] { Answer(); });
    return true;
}

void TSingleInstance::Answer() {
    while (QLocalSocket* client = FServer->nextPendingConnection()) {
        connect(client, &QLocalSocket::disconnected, client, &QObject::deleteLater);
        auto serve = [this, client] {
            if (!client->canReadLine()) return;
            const QByteArray request = client->readLine().trimmed();
            if (request == "show") {
                if (FShow) FShow();
                else FShowPending = true;
                client->write("ok\n");
            } else {
                client->write("?\n");
            }
            client->flush();
            client->disconnectFromServer();
        };
        connect(client, &QLocalSocket::readyRead, client, serve);
        serve(); // what came with the connection
    }
}

void TSingleInstance::SetShowHandler(std::function<void()> handler) {
    FShow = std::move(handler);
    if (FShow && FShowPending) {
        FShowPending = false;
        FShow();
    }
}

bool TSingleInstance::AskToShow(std::chrono::milliseconds wait) {
    if (FBase.empty()) return false;
    const auto deadline = std::chrono::steady_clock::now() + wait;
    const QString socket = QString::fromStdString(FBase + ".socket");
    do {
        QLocalSocket client;
        client.connectToServer(socket);
        if (client.waitForConnected(500)) {
            client.write("show\n");
            client.waitForBytesWritten(1000);
            // A window busy with a pass takes the request when the pass ends;
            // delivered is enough, an answer is waited for only a moment.
            if (client.waitForReadyRead(2000) && client.readLine().trimmed() == "ok") return true;
            return client.bytesToWrite() == 0;
        }
        // The window holding the lock may not listen yet: it has just started.
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    } while (std::chrono::steady_clock::now() < deadline);
    return false;
}

bool TSingleInstance::LockPass(std::chrono::milliseconds wait, const std::atomic<bool>* stop) {
    if (FPassDepth > 0) {
        ++FPassDepth;
        return true;
    }
    if (FPassFd < 0) FPassFd = OpenLockFile(FBase + ".pass");
    if (FPassFd < 0) {
        // Without a lock file every pass runs, as they always did.
        ++FPassDepth;
        return true;
    }
    const auto deadline = std::chrono::steady_clock::now() + wait;
    while (flock(FPassFd, LOCK_EX | LOCK_NB) != 0) {
        if (std::chrono::steady_clock::now() >= deadline || (stop && stop->load())) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    ++FPassDepth;
    return true;
}

void TSingleInstance::UnlockPass() {
    if (FPassDepth == 0) return;
    if (--FPassDepth == 0 && FPassFd >= 0) flock(FPassFd, LOCK_UN);
}

std::string OtherPassText(const std::string& settingsDir) {
    return "Another Ostrakel is running an update pass with the settings in " + settingsDir + " and did not end it within " +
           std::to_string(kPassWait.count()) + " seconds";
}

TPassHold::TPassHold(TSingleInstance* instance, const std::atomic<bool>* stop) : FInstance(instance) {
    if (FInstance && !FInstance->LockPass(kPassWait, stop)) {
        const std::string dir = FInstance->SettingsDir();
        FInstance = nullptr;
        // Asked to end while waiting: no box that nobody may answer.
        if (stop && stop->load()) throw EAbort();
        throw Exception(OtherPassText(dir));
    }
}

TPassHold::~TPassHold() {
    if (FInstance) FInstance->UnlockPass();
}

} // namespace ostrakel
