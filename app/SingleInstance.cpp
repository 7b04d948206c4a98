#include "app/SingleInstance.h"

#include "platform/Exception.h"
#include "platform/Files.h"

#include <QByteArray>
#include <QCryptographicHash>
#include <QDir>
#include <QFileInfo>
#include <QLocalServer>
#include <QLocalSocket>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace ostrakel {

namespace {

bool UsableDirectory(const std::string& dir) {
    struct stat st {};
    return !dir.empty() && dir.front() == '/' && ::stat(dir.c_str(), &st) == 0 && S_ISDIR(st.st_mode) &&
           access(dir.c_str(), W_OK | X_OK) == 0;
}

// A directory of the user's own, found from the user id and the password
// database alone, never from the environment: the window of a desktop
// session and a run from cron or `sudo -u` find the same one. /run/user/<uid>
// when it is there and the user's, else .cache/ostrakel in the user's home
// (made, and kept the user's alone). Empty when there is none.
std::string UserDirectory() {
    const uid_t uid = geteuid();
    struct stat st {};
    const std::string run = "/run/user/" + std::to_string(uid);
    if (::stat(run.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == uid && UsableDirectory(run)) return run;
    long size = sysconf(_SC_GETPW_R_SIZE_MAX);
    std::vector<char> buffer(static_cast<size_t>(size > 0 ? size : 16384));
    passwd entry {};
    passwd* found = nullptr;
    if (getpwuid_r(uid, &entry, buffer.data(), buffer.size(), &found) != 0 || !found || !found->pw_dir ||
        found->pw_dir[0] != '/')
        return {};
    const std::string dir = std::string(found->pw_dir) + "/.cache/ostrakel";
    QDir().mkpath(QString::fromStdString(dir));
    if (::lstat(dir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != uid) return {};
    if ((st.st_mode & 0077) != 0) ::chmod(dir.c_str(), 0700);
    return UsableDirectory(dir) ? dir : std::string();
}

int OpenLockFile(const std::string& name, mode_t mode) {
    if (name.empty()) return -1; // no directory for the locks (told once)
    // Read-only is enough for flock(2), so a lock file another user of a
    // shared settings directory made serves as well; never through a link.
    const int fd = ::open(name.c_str(), O_RDONLY | O_CREAT | O_CLOEXEC | O_NOFOLLOW, mode);
    if (fd < 0)
        std::fprintf(stderr, "ostrakel: cannot open the lock file %s: %s\n", name.c_str(), std::strerror(errno));
    return fd;
}

} // namespace

TSingleInstance::TSingleInstance(const std::string& settingsDir) {
    // The same directory under every name it has (a link, "..", a missing "/").
    const QFileInfo info(QString::fromStdString(settingsDir.empty() ? ProgramDirectory() : settingsDir));
    QString canonical = info.canonicalFilePath();
    if (canonical.isEmpty()) canonical = info.absoluteFilePath();
    FSettingsDir = canonical.toStdString();
    const std::string hash =
        QCryptographicHash::hash(canonical.toUtf8(), QCryptographicHash::Sha256).toHex().left(16).toStdString();
    // The locks lie in the settings directory itself, where every program
    // that runs a pass writes its logs anyway; only where it cannot be
    // written, in the user's own directory. The socket of the window is the
    // user's, found the same way by every process of the user.
    const std::string user = UserDirectory();
    if (UsableDirectory(FSettingsDir)) {
        const std::string base = FSettingsDir + (FSettingsDir.ends_with('/') ? "" : "/");
        FInstanceLock = base + ".ostrakel.lock";
        FPassLock = base + ".ostrakel-pass.lock";
        FLockMode = 0644;
    } else if (!user.empty()) {
        FInstanceLock = user + "/ostrakel-" + hash + ".lock";
        FPassLock = user + "/ostrakel-" + hash + ".pass";
    } else {
        std::fprintf(stderr, "ostrakel: no directory of this user's own for the locks of %s; more than one "
                     "program may run with these settings\n", FSettingsDir.c_str());
    }
    if (!user.empty()) FSocket = user + "/ostrakel-" + hash + ".socket";
}

TSingleInstance::~TSingleInstance() {
    if (FServer) FServer->close();
    if (FPassFd >= 0) ::close(FPassFd);
    if (FInstanceFd >= 0) ::close(FInstanceFd);
}

bool TSingleInstance::BecomeTheWindow() {
    if (FInstanceFd >= 0) return true;
    const int fd = OpenLockFile(FInstanceLock, FLockMode);
    // A lock file that cannot be made leaves the program as it was: one window more.
    if (fd < 0) return true;
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        ::close(fd);
        return false;
    }
    FInstanceFd = fd;
    if (FSocket.empty()) {
        std::fprintf(stderr, "ostrakel: a later start cannot reach this window: no directory of this user's own "
                     "for its socket\n");
        return true;
    }
    // The lock is ours, so a socket left behind by a window that died is stale.
    const QString socket = QString::fromStdString(FSocket);
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
    if (FSocket.empty()) return false;
    const auto deadline = std::chrono::steady_clock::now() + wait;
    const QString socket = QString::fromStdString(FSocket);
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
    if (FPassFd < 0) FPassFd = OpenLockFile(FPassLock, FLockMode);
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
