#pragma once
// A throw-away PostgreSQL server for the plant archive's tests: a cluster made by initdb in a
// temporary folder, listening on a Unix socket in that folder only (no TCP port), without
// fsync (a committed row still reaches the kernel, so it outlives a killed server), stopped and
// removed when the object goes. The server refuses to run as root: when the tests run as root, the
// folder is given to the plain user (PlainUser.h) and initdb, pg_ctl and so the server run as that
// user. The server may be stopped, started again and killed (-9 of the postmaster and its children)
// in the middle of a test.
//
// The binaries: ULMAR_PG_BINDIR when set, else the highest version under /usr/lib/postgresql
// (Debian), else initdb and pg_ctl on the PATH. Ready() is false where the server cannot be
// made or started, and Reason() says why (for QSKIP). Test main thread.
//
// The cluster's superuser is SuperUser(), trusted on the socket; SetHba rewrites the
// authentication rules and reloads them.

#include "tests/support/PlainUser.h"

#include <QByteArray>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QThread>
#include <algorithm>
#include <cerrno>
#include <csignal>
#include <libpq-fe.h>
#include <sys/stat.h>
#include <unistd.h>

// Where ULMAR_PG_REQUIRED=1 (the continuous integration's run) a server that cannot be started
// fails the tests that need it instead of skipping them.
inline bool PgServerRequired() {
    return qEnvironmentVariableIntValue("ULMAR_PG_REQUIRED") == 1;
}

// In a test function: skips it, with the reason, where the cluster could not be started (or
// fails it where PgServerRequired()). Needs <QTest>.
#define PG_NEED_SERVER(cluster)                                                                    \
    do {                                                                                           \
        if (!(cluster)->Ready()) {                                                                 \
            if (PgServerRequired())                                                                \
                QFAIL(qPrintable("no PostgreSQL server (ULMAR_PG_REQUIRED is set): " +             \
                                 (cluster)->Reason()));                                            \
            QSKIP(qPrintable("no PostgreSQL server: " + (cluster)->Reason()));                     \
        }                                                                                          \
    } while (false)

class TPgCluster {
public:
    TPgCluster() : Root_(QDir(QDir::tempPath()).filePath(QStringLiteral("ulmar-pg-XXXXXX"))) {
        Make();
    }
    ~TPgCluster() {
        // pg_ctl stops only the server of this folder; a kill only a server this object started.
        const bool running = Running_;
        if ((running || PostmasterPid() > 0) && !Stop(QStringLiteral("immediate")) && running)
            Kill();
    }
    TPgCluster(const TPgCluster&) = delete;
    TPgCluster& operator=(const TPgCluster&) = delete;

    bool Ready() const { return Running_; }
    const QString& Reason() const { return Reason_; }

    QString SocketDir() const { return Root_.path(); }
    int Port() const { return PortNumber; }
    QString SuperUser() const { return QStringLiteral("ulmar_admin"); }
    QString DataDir() const { return Root_.filePath(QStringLiteral("data")); }

    // libpq's connection string for a database and user of the cluster.
    QByteArray ConnInfo(const QString& database = QStringLiteral("postgres"),
                        const QString& user = QString()) const {
        return QStringLiteral("host='%1' port=%2 dbname='%3' user='%4' connect_timeout=5")
            .arg(SocketDir())
            .arg(PortNumber)
            .arg(database, user.isEmpty() ? SuperUser() : user)
            .toUtf8();
    }

    // A new empty database "<prefix>_<n>" for one test; a warning when it cannot be made.
    QString NewDatabase(const QString& prefix) {
        const QString name = QStringLiteral("%1_%2").arg(prefix).arg(++Databases_);
        QString error;
        if (!Sql("CREATE DATABASE " + name, &error))
            qWarning("CREATE DATABASE %s: %s", qPrintable(name), qPrintable(error));
        return name;
    }

    // Runs one statement as the superuser on `database`; false and the server's text in error
    // when it fails.
    bool Sql(const QString& statement, QString* error = nullptr,
             const QString& database = QStringLiteral("postgres")) const {
        PGconn* conn = PQconnectdb(ConnInfo(database).constData());
        bool ok = PQstatus(conn) == CONNECTION_OK;
        if (ok) {
            PGresult* r = PQexec(conn, statement.toUtf8().constData());
            const ExecStatusType s = PQresultStatus(r);
            ok = s == PGRES_COMMAND_OK || s == PGRES_TUPLES_OK;
            PQclear(r);
        }
        if (!ok && error)
            *error = QString::fromUtf8(PQerrorMessage(conn)).trimmed();
        PQfinish(conn);
        return ok;
    }

    // The first column of the first row of a query, as text; empty when it fails.
    QString Value(const QString& query,
                  const QString& database = QStringLiteral("postgres")) const {
        PGconn* conn = PQconnectdb(ConnInfo(database).constData());
        QString value;
        if (PQstatus(conn) == CONNECTION_OK) {
            PGresult* r = PQexec(conn, query.toUtf8().constData());
            if (PQresultStatus(r) == PGRES_TUPLES_OK && PQntuples(r) > 0)
                value = QString::fromUtf8(PQgetvalue(r, 0, 0));
            PQclear(r);
        }
        PQfinish(conn);
        return value;
    }

    // Replaces pg_hba.conf by `lines` (the superuser's own trusted line comes first) and has
    // the server read it again.
    bool SetHba(const QString& lines) {
        QFile f(QDir(DataDir()).filePath(QStringLiteral("pg_hba.conf")));
        if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate))
            return false;
        f.write(("local all " + SuperUser() + " trust\n" + lines + "\n").toUtf8());
        f.close();
        return GiveToPlainUser(DataDir()) && Sql(QStringLiteral("SELECT pg_reload_conf()"));
    }

    // Stops the server ("fast": sessions are ended, "immediate": no shutdown checkpoint).
    bool Stop(const QString& mode = QStringLiteral("fast")) {
        const bool ok = Run(PgCtl_, {"-D", DataDir(), "-m", mode, "-w", "-t", "30", "stop"});
        if (ok)
            Running_ = false;
        return ok;
    }

    // Starts the server (again). After Kill the old server's children may hold its shared
    // memory for a moment: tried again for up to 15 s.
    bool Start() {
        QDeadlineTimer deadline(15000);
        do {
            if (Run(PgCtl_, {"-D", DataDir(), "-l", Root_.filePath(QStringLiteral("server.log")),
                             "-w", "-t", "30", "start"})) {
                Running_ = true;
                return true;
            }
            QThread::msleep(200);
        } while (!deadline.hasExpired());
        Reason_ =
            QStringLiteral("pg_ctl start: ") + Output_ + QStringLiteral("; log: ") + LogTail();
        return false;
    }

    // Kills the postmaster and its children with SIGKILL, as a crash of the server host would
    // end them, and waits until the postmaster is gone. False when there was none.
    bool Kill() {
        const pid_t pid = PostmasterPid();
        if (pid <= 0)
            return false;
        // pg_ctl starts the postmaster in a session of its own: the group is the server.
        if (::getpgid(pid) == pid)
            ::kill(-pid, SIGKILL);
        else
            ::kill(pid, SIGKILL);
        QDeadlineTimer deadline(10000);
        while (Alive(pid) && !deadline.hasExpired())
            QThread::msleep(20);
        Running_ = false;
        return !Alive(pid);
    }

    static constexpr int PortNumber = 5432;
    int Databases_ = 0;

private:
    void Make() {
        if (!Root_.isValid()) {
            Reason_ = QStringLiteral("no temporary folder: ") + Root_.errorString();
            return;
        }
        // A socket path is limited to about 107 bytes.
        if (SocketDir().toLocal8Bit().size() > 90) {
            Reason_ = QStringLiteral("the temporary folder's path is too long for a socket: ") +
                      SocketDir();
            return;
        }
        const QString bin = BinDir();
        Initdb_ = Find(bin, QStringLiteral("initdb"));
        PgCtl_ = Find(bin, QStringLiteral("pg_ctl"));
        if (Initdb_.isEmpty() || PgCtl_.isEmpty()) {
            Reason_ = QStringLiteral("no PostgreSQL server binaries (initdb, pg_ctl) in ") +
                      (bin.isEmpty() ? QStringLiteral("/usr/lib/postgresql or on the PATH") : bin);
            return;
        }
        if (!GiveToPlainUser(Root_.path())) {
            Reason_ = QStringLiteral("the temporary folder cannot be given to the plain user");
            return;
        }
        if (!Run(Initdb_, {"-D", DataDir(), "-U", SuperUser(), "-A", "trust", "-E", "UTF8",
                           "--no-locale", "--no-sync"})) {
            Reason_ = QStringLiteral("initdb: ") + Output_;
            return;
        }
        QFile conf(QDir(DataDir()).filePath(QStringLiteral("postgresql.conf")));
        if (!conf.open(QIODevice::Append)) {
            Reason_ = QStringLiteral("postgresql.conf cannot be written");
            return;
        }
        QString dir = SocketDir();
        dir.replace(QLatin1Char('\''), QStringLiteral("''"));
        conf.write(QStringLiteral("\nlisten_addresses = ''\n"
                                  "unix_socket_directories = '%1'\n"
                                  "port = %2\n"
                                  "fsync = off\n"
                                  "full_page_writes = off\n"
                                  "max_connections = 30\n"
                                  "shared_buffers = 32MB\n"
                                  "max_parallel_workers_per_gather = 0\n"
                                  "logging_collector = off\n")
                       .arg(dir)
                       .arg(PortNumber)
                       .toUtf8());
        conf.close();
        if (!SetHbaFile() || !GiveToPlainUser(Root_.path())) {
            Reason_ = QStringLiteral("pg_hba.conf cannot be written");
            return;
        }
        Start();
    }

    bool SetHbaFile() {
        QFile f(QDir(DataDir()).filePath(QStringLiteral("pg_hba.conf")));
        if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate))
            return false;
        f.write("local all all trust\n");
        return true;
    }

    static QString BinDir() {
        const QString env = qEnvironmentVariable("ULMAR_PG_BINDIR");
        if (!env.isEmpty())
            return env;
        QStringList versions = QDir(QStringLiteral("/usr/lib/postgresql"))
                                   .entryList(QDir::Dirs | QDir::NoDotAndDotDot);
        // "9.6", "15", "16": as numbers.
        std::sort(versions.begin(), versions.end(),
                  [](const QString& a, const QString& b) { return a.toDouble() < b.toDouble(); });
        for (auto it = versions.crbegin(); it != versions.crend(); ++it) {
            const QString bin = QStringLiteral("/usr/lib/postgresql/%1/bin").arg(*it);
            if (QFile::exists(bin + QStringLiteral("/initdb")))
                return bin;
        }
        return QString();
    }

    static QString Find(const QString& bin, const QString& name) {
        if (!bin.isEmpty()) {
            const QString path = QDir(bin).filePath(name);
            return QFileInfo(path).isExecutable() ? path : QString();
        }
        return QStandardPaths::findExecutable(name);
    }

    // Runs a server program as the plain user when the tests run as root; its output in Output_.
    bool Run(const QString& program, const QStringList& arguments) {
        QProcess p;
        StartAsPlainUser(p);
        p.setProcessChannelMode(QProcess::MergedChannels);
        // The server programs' messages in English, whatever the tests' locale.
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("LC_ALL"), QStringLiteral("C"));
        env.remove(QStringLiteral("PGDATA"));
        p.setProcessEnvironment(env);
        p.setWorkingDirectory(Root_.path());
        p.start(program, arguments);
        if (!p.waitForStarted(10000)) {
            Output_ = program + QStringLiteral(": ") + p.errorString();
            return false;
        }
        const bool finished = p.waitForFinished(90000);
        Output_ = QString::fromLocal8Bit(p.readAll()).simplified();
        if (!finished) {
            p.kill();
            p.waitForFinished(5000);
            Output_ += QStringLiteral(" (no end within 90 s)");
            return false;
        }
        return p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
    }

    pid_t PostmasterPid() const {
        QFile f(QDir(DataDir()).filePath(QStringLiteral("postmaster.pid")));
        if (!f.open(QIODevice::ReadOnly))
            return -1;
        return pid_t(f.readLine().trimmed().toLong());
    }

    // A process that exists and is no zombie (a reaper that does not reap leaves those).
    static bool Alive(pid_t pid) {
        if (::kill(pid, 0) != 0 && errno == ESRCH)
            return false;
        QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
        if (!stat.open(QIODevice::ReadOnly))
            return false;
        const QByteArray text = stat.readAll();
        const qsizetype close = text.lastIndexOf(')');
        return close < 0 || close + 2 >= text.size() || text.at(close + 2) != 'Z';
    }

    QString LogTail() const {
        QFile f(Root_.filePath(QStringLiteral("server.log")));
        if (!f.open(QIODevice::ReadOnly))
            return QString();
        const QByteArray all = f.readAll();
        return QString::fromLocal8Bit(all.right(600)).simplified();
    }

    QTemporaryDir Root_;
    QString Initdb_;
    QString PgCtl_;
    QString Output_;
    QString Reason_;
    bool Running_ = false;
};
