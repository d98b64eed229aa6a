// The window program's resident memory over a long poll: starts `ulmar --simulator --poll`
// (offscreen, fresh program and working folders, the pacing timer at its shortest period),
// samples its resident set and the polls archived so far (the lines of the Lt text twins), and
// reports the growth per poll after the warm-up, by a least-squares line through the samples.
//
//   bench_memory [--seconds S] [--warmup S] [--every S] [--program PATH]
//
// Defaults: 600 s in all, the first 120 s left out, a sample every 10 s, the ulmar program built
// beside this benchmark. --program runs another build (an older one, to compare).

#include <QCoreApplication>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>
#include <chrono>
#include <cstdio>
#include <vector>

namespace {

struct TSample {
    double Seconds = 0;
    long Polls = 0;
    long RssKiB = 0;
};

long RssKiB(qint64 pid) {
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    // A /proc file reports size 0: read it whole, not up to its size.
    for (const QByteArray& line : status.readAll().split('\n'))
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').value(0).toLong();
    return -1;
}

// Polls archived: one line per poll in the day's Lt.txt (all days, for a run over midnight).
long Polls(const QString& dataDir) {
    long lines = 0;
    QDirIterator it(dataDir, {QStringLiteral("Lt.txt")}, QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        QFile f(it.next());
        if (!f.open(QIODevice::ReadOnly))
            continue;
        while (!f.atEnd())
            if (f.readLine().endsWith('\n'))
                ++lines;
    }
    return lines;
}

// Slope of y over x by least squares.
double Slope(const std::vector<double>& x, const std::vector<double>& y) {
    const double n = static_cast<double>(x.size());
    double sx = 0, sy = 0, sxx = 0, sxy = 0;
    for (size_t i = 0; i < x.size(); ++i) {
        sx += x[i];
        sy += y[i];
        sxx += x[i] * x[i];
        sxy += x[i] * y[i];
    }
    const double d = n * sxx - sx * sx;
    return d == 0 ? 0 : (n * sxy - sx * sy) / d;
}

} // namespace

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    int seconds = 600, warmup = 120, every = 10;
    QString program = QStringLiteral(ULMAR_APP_PATH);
    const QStringList args = app.arguments();
    for (int i = 1; i + 1 < args.size(); i += 2) {
        if (args[i] == QLatin1String("--seconds"))
            seconds = args[i + 1].toInt();
        else if (args[i] == QLatin1String("--warmup"))
            warmup = args[i + 1].toInt();
        else if (args[i] == QLatin1String("--every"))
            every = args[i + 1].toInt();
        else if (args[i] == QLatin1String("--program"))
            program = args[i + 1];
    }
    if (seconds <= warmup + 2 * every || every <= 0) {
        std::fprintf(stderr, "bench_memory: --seconds must exceed --warmup by two samples\n");
        return 2;
    }

    QTemporaryDir root;
    const QString prog = root.filePath(QStringLiteral("prog"));
    const QString work = root.filePath(QStringLiteral("work"));
    QDir().mkpath(prog);
    QDir().mkpath(work + QStringLiteral("/INI"));
    QFile timer(work + QStringLiteral("/INI/Timer.ini"));
    if (!timer.open(QIODevice::WriteOnly) ||
        timer.write("[ctReqDevices]\r\nEnabled=1\r\nInterval=1\r\n") < 0)
        return 2;
    timer.close();

    QProcess ulmar;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    ulmar.setProcessEnvironment(env);
    ulmar.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    ulmar.setStandardOutputFile(QProcess::nullDevice());
    ulmar.start(program, {QStringLiteral("--simulator"), QStringLiteral("--poll"),
                          QStringLiteral("--program-dir"), prog, QStringLiteral("--work-dir"), work,
                          QStringLiteral("--quit-after"), QString::number((seconds + 30) * 1000)});
    if (!ulmar.waitForStarted(10000)) {
        std::fprintf(stderr, "bench_memory: %s did not start\n", qPrintable(program));
        return 2;
    }
    const qint64 pid = ulmar.processId();
    const auto start = std::chrono::steady_clock::now();
    std::vector<TSample> samples;
    std::printf("%8s %10s %10s\n", "s", "polls", "RSS KiB");
    for (int t = every; t <= seconds; t += every) {
        while (std::chrono::steady_clock::now() - start < std::chrono::seconds(t))
            QThread::msleep(100);
        if (ulmar.state() != QProcess::Running) {
            std::fprintf(stderr, "bench_memory: the program ended early\n");
            return 1;
        }
        TSample s{static_cast<double>(t), Polls(prog + QStringLiteral("/DATA")), RssKiB(pid)};
        samples.push_back(s);
        std::printf("%8.0f %10ld %10ld\n", s.Seconds, s.Polls, s.RssKiB);
        std::fflush(stdout);
    }
    ulmar.terminate();
    if (!ulmar.waitForFinished(60000))
        ulmar.kill();

    std::vector<double> polls, bytes;
    for (const TSample& s : samples)
        if (s.Seconds > warmup) {
            polls.push_back(static_cast<double>(s.Polls));
            bytes.push_back(static_cast<double>(s.RssKiB) * 1024.0);
        }
    const TSample& first = samples.front();
    const TSample& last = samples.back();
    std::printf("program: %s\n", qPrintable(program));
    std::printf("polls: %ld in %.0f s (%.1f a second)\n", last.Polls, last.Seconds,
                static_cast<double>(last.Polls) / last.Seconds);
    std::printf("resident: %ld KiB at %.0f s, %ld KiB at the end\n", first.RssKiB, first.Seconds,
                last.RssKiB);
    std::printf("growth after the %d s warm-up: %.1f bytes a poll (least squares over %zu "
                "samples)\n",
                warmup, Slope(polls, bytes), polls.size());
    return 0;
}
