// The log writer, EnsureFileExists, the start paths, the INI file class and the program's locale.
// The INI reader's refusal of files of the wrong kind or size runs in a child process
// (ChildRun.h), so that a read that blocks or never ends fails its row instead of the suite.

#include "tests/support/ChildRun.h"
#include "tests/support/FileSizeLimit.h"
#include "tests/support/TestDirs.h"
#include "uIniFile.h"
#include "uLog.h"
#include "uParamStr.h"
#include "uPaths.h"
#include "uProgramLocale.h"
#include "uSmallFile.h"
#include <QFile>
#include <QRegularExpression>
#include <QStringEncoder>
#include <QTest>
#include <clocale>
#include <cstdlib>
#include <stdexcept>
#include <sys/stat.h>
#include <unistd.h>

class TestFiles : public QObject {
    Q_OBJECT
private slots:
    void init();
    void cleanup();

    void logLineFormat();
    void logCreatesDirectories();
    void logWithoutDirectoryWritesIntoWorkingDir();
    void logIgnoresEmptyName();
    void logFailureThrows();
    void logLineWholeOrNotAtAll();
    void logLineStartsOnItsOwnLine();
    void ensureFileExists();
    void ensureFileExistsFailures();
    void startPaths();

    void iniCaseInsensitive();
    void iniReplaceInPlace();
    void iniNewKeyAndSection();
    void iniKeepsForeignLines();
    void iniEraseAndDelete();
    void iniNumbers_data();
    void iniNumbers();
    void iniWindows1251RoundTrip();
    void iniUtf8KeepsBomAndBrokenBytes();
    void iniLineEnds();
    void iniMissingFile();
    void iniSaveFailures();
    void iniUnreadableFileIsNotOverwritten();
    void iniValueWithLineBreak();
    void iniOddFiles_data();
    void iniOddFiles();
    void iniSaveLeavesFifoInPlace();
    void iniBomMeansUtf8();
    void programLocaleWhateverTheDesktop();

private:
    QString Write(const QString& name, const QByteArray& bytes);
    QByteArray Read(const QString& path);
    TTestDirs* Dirs = nullptr;
    QString OldCwd;
};

void TestFiles::init() {
    Dirs = new TTestDirs;
    OldCwd = QDir::currentPath();
    QVERIFY(QDir::setCurrent(Dirs->Work()));
}

void TestFiles::cleanup() {
    QDir::setCurrent(OldCwd);
    delete Dirs;
    Dirs = nullptr;
}

QString TestFiles::Write(const QString& name, const QByteArray& bytes) {
    const QString path = JoinPath(Dirs->Work(), name);
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly))
        return {};
    f.write(bytes);
    return path;
}

QByteArray TestFiles::Read(const QString& path) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return "<unreadable>";
    return f.readAll();
}

void TestFiles::logLineFormat() {
    TLog log;
    QCOMPARE(log.FileName(), QStringLiteral("log.txt"));
    log.SetFileName(JoinPath(Dirs->Work(), "a.txt"));
    log.Add(QStringLiteral("FF 20 01 Норма"));
    log.Add(QString());
    const QString text = QString::fromUtf8(Read(log.FileName()));
    static const QRegularExpression line(
        R"(^(\d\d)\.(\d\d)\.(\d{4}) ([01]\d|2[0-3]):[0-5]\d:[0-5]\d,\d{3} FF 20 01 Норма\r\n)"
        R"(\d\d\.\d\d\.\d{4} \d\d:\d\d:\d\d,\d{3} \r\n$)");
    const auto m = line.match(text);
    QVERIFY2(m.hasMatch(), qPrintable(text));
    QCOMPARE(m.captured(3).toInt(), QDate::currentDate().year());
}

void TestFiles::logCreatesDirectories() {
    TLog log;
    log.SetFileName(JoinPath(Dirs->Work(), "x/y/z/log.txt"));
    log.Add("one");
    log.Add("two");
    QCOMPARE(Read(log.FileName()).count("\r\n"), 2);
    TLog copy;
    copy.Assign(log);
    QCOMPARE(copy.FileName(), log.FileName());
}

void TestFiles::logWithoutDirectoryWritesIntoWorkingDir() {
    const QStringList before = QDir(Dirs->Work()).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    TLog log;
    log.SetFileName("rd240305.txt");
    log.Add("line");
    QVERIFY(QFile::exists(JoinPath(Dirs->Work(), "rd240305.txt")));
    QCOMPARE(QDir(Dirs->Work()).entryList(QDir::Dirs | QDir::NoDotAndDotDot), before);
}

void TestFiles::logIgnoresEmptyName() {
    TLog log;
    log.SetFileName("a.txt");
    log.SetFileName(QString());
    QCOMPARE(log.FileName(), QStringLiteral("a.txt"));
}

void TestFiles::logFailureThrows() {
    // A plain file where the directory should be.
    Write("blocker", "x");
    TLog log;
    log.SetFileName(JoinPath(Dirs->Work(), "blocker/log.txt"));
    QVERIFY_THROWS_EXCEPTION(std::runtime_error, log.Add("x"));
    log.SetFileName(Dirs->Work()); // a directory cannot be opened as the log
    QVERIFY_THROWS_EXCEPTION(std::runtime_error, log.Add("x"));
}

void TestFiles::logLineWholeOrNotAtAll() {
    const QByteArray first("01.03.2024 10:00:00,000 one\r\n");
    const QString path = Write("rd.txt", first);
    TLog log;
    log.SetFileName(path);
    {
        // Room for five more bytes: the disk fills up in the middle of the line.
        TFileSizeLimit limit(first.size() + 5);
        QVERIFY(limit.Active());
        QVERIFY_THROWS_EXCEPTION(std::runtime_error, log.Add("two"));
        QVERIFY(!AppendLineToFile(path, "three\r\n"));
    }
    QCOMPARE(Read(path), first);
    log.Add("four");
    QVERIFY(AppendLineToFile(path, "five\r\n"));
    const QByteArray text = Read(path);
    QVERIFY2(text.startsWith(first) && text.endsWith(" four\r\nfive\r\n"), text.constData());
    QCOMPARE(text.count("\r\n"), 3);
}

void TestFiles::logLineStartsOnItsOwnLine() {
    // The last line cut off by a crash of an earlier writer.
    const QString cut = Write("cut.txt", "01.03.2024 10:00:00,000 cut o");
    QVERIFY(AppendLineToFile(cut, "next\r\n"));
    QCOMPARE(Read(cut), QByteArray("01.03.2024 10:00:00,000 cut o\r\nnext\r\n"));
    // A bare line feed ends a line too; an empty file needs no line end.
    const QString lf = Write("lf.txt", "x\n");
    QVERIFY(AppendLineToFile(lf, "y\r\n"));
    QCOMPARE(Read(lf), QByteArray("x\ny\r\n"));
    const QString empty = Write("empty.txt", "");
    TLog log;
    log.SetFileName(empty);
    log.Add("z");
    QVERIFY(Read(empty).endsWith(" z\r\n"));
    QCOMPARE(Read(empty).count("\r\n"), 1);
    // The same line that Add writes, for a thread that writes it later.
    QVERIFY(TLog::FormatLine("z").endsWith(" z\r\n"));
    QCOMPARE(TLog::FormatLine("z").size(), Read(empty).size());
}

void TestFiles::ensureFileExists() {
    const QString path = JoinPath(Dirs->Work(), "a/b/BlackBox.txt");
    EnsureFileExists(path);
    QVERIFY(QFile::exists(path));
    QCOMPARE(QFileInfo(path).size(), 0);
    // An existing file is left as it is.
    const QString kept = Write("kept.txt", "data");
    EnsureFileExists(kept);
    QCOMPARE(Read(kept), QByteArray("data"));
}

void TestFiles::ensureFileExistsFailures() {
    Write("blocker", "x");
    QVERIFY_THROWS_EXCEPTION(std::runtime_error,
                             EnsureFileExists(JoinPath(Dirs->Work(), "blocker/sub/f.txt")));
    QVERIFY_THROWS_EXCEPTION(std::runtime_error, EnsureFileExists(Dirs->Work()));
}

void TestFiles::startPaths() {
    QCOMPARE(StartDir(), Dirs->Work());
    QCOMPARE(StartIniDir(), JoinPath(Dirs->Work(), "INI"));
    QCOMPARE(ProgramIniDir(), JoinPath(Dirs->Prog(), "INI"));
}

void TestFiles::iniCaseInsensitive() {
    const QString path =
        Write("c.ini", "[ComPort]\r\nBaudRate=9600\r\n[Секция]\r\nКлюч=значение\r\n");
    TIniFile ini(path);
    QVERIFY(ini.FileExisted());
    QCOMPARE(ini.ReadInteger("COMPORT", "baudrate", 0), 9600);
    QVERIFY(ini.SectionExists("comport"));
    QVERIFY(ini.ValueExists("comPort", "BAUDRATE"));
    QCOMPARE(ini.ReadString("СЕКЦИЯ", "ключ", ""), QStringLiteral("значение"));
    QCOMPARE(ini.Sections(), (QStringList{"ComPort", "Секция"}));
}

void TestFiles::iniReplaceInPlace() {
    const QString path = Write("r.ini", "[A]\r\nx=1\r\n Y = 2 \r\nz=3\r\n[B]\r\ny=9\r\n");
    TIniFile ini(path);
    QCOMPARE(ini.ReadString("a", "y", ""), QStringLiteral("2"));
    ini.WriteString("a", "y", "20");
    QVERIFY(ini.Save());
    QCOMPARE(Read(path), QByteArray("[A]\r\nx=1\r\nY=20\r\nz=3\r\n[B]\r\ny=9\r\n"));
    QCOMPARE(ini.ReadSection("A"), (QStringList{"x", "Y", "z"}));
}

void TestFiles::iniNewKeyAndSection() {
    const QString path = Write("n.ini", "[A]\r\nx=1\r\n\r\n; about B\r\n[B]\r\ny=2\r\n");
    TIniFile ini(path);
    ini.WriteInteger("a", "New", 5);
    ini.WriteBool("C", "Enabled", true);
    ini.WriteInteger("c", "Interval", 300);
    QVERIFY(ini.Save());
    QCOMPARE(Read(path), QByteArray("[A]\r\nx=1\r\nNew=5\r\n\r\n; about B\r\n[B]\r\ny=2\r\n"
                                    "[C]\r\nEnabled=1\r\nInterval=300\r\n"));
    // A section without keys gets its first key right below its header.
    const QString empty = Write("e.ini", "[E]\r\n[F]\r\nk=1\r\n");
    TIniFile e(empty);
    e.WriteString("E", "k", "v");
    QVERIFY(e.Save());
    QCOMPARE(Read(empty), QByteArray("[E]\r\nk=v\r\n[F]\r\nk=1\r\n"));
}

void TestFiles::iniKeepsForeignLines() {
    const QByteArray text = "; head comment\r\nstray line\r\n[A]\r\n# hash comment\r\n"
                            "foreign=keep me\r\nnoequals\r\n\r\n[Other]\r\nq = a=b \r\n";
    const QString path = Write("f.ini", text);
    TIniFile ini(path);
    QCOMPARE(ini.ReadString("Other", "q", ""), QStringLiteral("a=b"));
    QCOMPARE(ini.ReadSection("A"), QStringList{"foreign"});
    QVERIFY(ini.Save());
    QCOMPARE(Read(path), text);
    ini.WriteString("A", "mine", "1");
    QVERIFY(ini.Save());
    QCOMPARE(Read(path), QByteArray("; head comment\r\nstray line\r\n[A]\r\n# hash comment\r\n"
                                    "foreign=keep me\r\nmine=1\r\nnoequals\r\n\r\n[Other]\r\n"
                                    "q = a=b \r\n"));
}

void TestFiles::iniEraseAndDelete() {
    const QString path = Write("d.ini", "[A]\r\nx=1\r\ny=2\r\n[B]\r\nz=3\r\n[C]\r\n");
    TIniFile ini(path);
    ini.DeleteKey("a", "X");
    ini.EraseSection("b");
    ini.EraseSection("missing");
    ini.DeleteKey("missing", "x");
    QVERIFY(ini.Save());
    QCOMPARE(Read(path), QByteArray("[A]\r\ny=2\r\n[C]\r\n"));
}

void TestFiles::iniNumbers_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<qint64>("integer");
    QTest::addColumn<double>("real");
    QTest::addColumn<bool>("boolean");
    const qint64 d = -7;
    const double f = -7.5;
    QTest::newRow("decimal") << "42" << qint64(42) << 42.0 << true;
    QTest::newRow("negative") << "-3" << qint64(-3) << -3.0 << true;
    QTest::newRow("0x") << "0x1F" << qint64(31) << f << true;
    QTest::newRow("0X upper") << "0XfF" << qint64(255) << f << true;
    QTest::newRow("dollar") << "$10" << qint64(16) << f << true;
    QTest::newRow("zero") << "0" << qint64(0) << 0.0 << false;
    QTest::newRow("point") << "1.25" << d << 1.25 << true;
    QTest::newRow("comma") << "1,25" << d << 1.25 << true;
    QTest::newRow("true") << "True" << d << f << true;
    QTest::newRow("false") << "false" << d << f << false;
    QTest::newRow("garbage") << "12abc" << d << f << true;
    QTest::newRow("empty") << "" << d << f << true;
    QTest::newRow("bare prefix") << "0x" << d << f << true;
    QTest::newRow("nan") << "nan" << d << f << true;
    QTest::newRow("overflow") << "99999999999999999999" << d << 1e20 << true;
}

void TestFiles::iniNumbers() {
    QFETCH(QString, text);
    QFETCH(qint64, integer);
    QFETCH(double, real);
    QFETCH(bool, boolean);
    const QString path = Write("num.ini", ("[S]\r\nk=" + text + "\r\n").toUtf8());
    const TIniFile ini(path);
    QCOMPARE(ini.ReadInteger("S", "k", -7), integer);
    QCOMPARE(ini.ReadFloat("S", "k", -7.5), real);
    QCOMPARE(ini.ReadBool("S", "k", true), boolean);
    QCOMPARE(ini.ReadInteger("S", "missing", -7), qint64(-7));
}

void TestFiles::iniWindows1251RoundTrip() {
    QStringEncoder enc("windows-1251");
    const QByteArray text = enc.encode(
        QStringLiteral("; Параметры УЛМАР\r\n[Параметры]\r\nЗаводской номер=123\r\nDist1=1,5\r\n"));
    const QString path = Write("p.ini", text);
    TIniFile ini(path, TIniFile::Encoding::Windows1251);
    QCOMPARE(ini.ReadInteger("параметры", "заводской номер", 0), 123);
    QCOMPARE(ini.ReadFloat("Параметры", "Dist1", 0), 1.5);
    QVERIFY(ini.Save());
    QCOMPARE(Read(path), text);
    ini.WriteString("Параметры", "Тип", "Ёмкость");
    QVERIFY(ini.Save());
    QCOMPARE(Read(path), text + enc.encode(QStringLiteral("Тип=Ёмкость\r\n")));
    TIniFile again(path, TIniFile::Encoding::Windows1251);
    QCOMPARE(again.ReadString("Параметры", "тип", ""), QStringLiteral("Ёмкость"));
}

void TestFiles::iniUtf8KeepsBomAndBrokenBytes() {
    const QByteArray text = "\xEF\xBB\xBF[A]\r\nbad=\xFF\xFE\r\nk=1\r\n";
    const QString path = Write("u.ini", text);
    TIniFile ini(path);
    QCOMPARE(ini.Sections(), QStringList{"A"});
    ini.WriteString("A", "k", "2");
    QVERIFY(ini.Save());
    QCOMPARE(Read(path), QByteArray("\xEF\xBB\xBF[A]\r\nbad=\xFF\xFE\r\nk=2\r\n"));
}

void TestFiles::iniLineEnds() {
    const QString lf = Write("lf.ini", "[A]\nx=1\n");
    TIniFile a(lf);
    a.WriteString("A", "y", "2");
    QVERIFY(a.Save());
    QCOMPARE(Read(lf), QByteArray("[A]\nx=1\ny=2\n"));
    // No line end after the last line: the new line still starts on a line of its own.
    const QString open = Write("open.ini", "[A]\r\nx=1");
    TIniFile b(open);
    b.WriteString("A", "y", "2");
    QVERIFY(b.Save());
    QCOMPARE(Read(open), QByteArray("[A]\r\nx=1\r\ny=2\r\n"));
}

void TestFiles::iniMissingFile() {
    const QString path = JoinPath(Dirs->Work(), "INI/none.ini");
    TIniFile ini(path);
    QVERIFY(!ini.FileExisted());
    QCOMPARE(ini.ReadInteger("S", "k", 200), 200);
    QCOMPARE(ini.ReadString("S", "k", "def"), QStringLiteral("def"));
    QVERIFY(!ini.ReadBool("S", "k", false));
    QVERIFY(ini.Sections().isEmpty());
    ini.WriteInteger("S", "k", 5);
    QVERIFY(ini.Save());
    QCOMPARE(Read(path), QByteArray("[S]\r\nk=5\r\n"));
}

void TestFiles::iniSaveFailures() {
    TIniFile missingDir(JoinPath(Dirs->Work(), "nodir/x.ini"));
    missingDir.WriteString("S", "k", "v");
    QVERIFY(!missingDir.Save());
    QVERIFY(!QDir(JoinPath(Dirs->Work(), "nodir")).exists());
    QVERIFY(missingDir.Save(true));
    QVERIFY(QFile::exists(JoinPath(Dirs->Work(), "nodir/x.ini")));

    // A plain file where the directory should be: no directory can be made.
    Write("blocker", "x");
    TIniFile blocked(JoinPath(Dirs->Work(), "blocker/sub/x.ini"));
    blocked.WriteString("S", "k", "v");
    QVERIFY(!blocked.Save(true));
    QCOMPARE(Read(JoinPath(Dirs->Work(), "blocker")), QByteArray("x"));

    // A directory in the file's place: it reads as unreadable and is never replaced.
    const QString place = JoinPath(Dirs->Work(), "place");
    QVERIFY(QDir().mkpath(JoinPath(place, "inner")));
    TIniFile onDir(place);
    onDir.WriteString("S", "k", "v");
    QVERIFY(!onDir.Save());
    QVERIFY(QFileInfo(place).isDir());
    QVERIFY(QFileInfo::exists(JoinPath(place, "inner")));
    QCOMPARE(QDir(Dirs->Work()).entryList(QDir::Files | QDir::Hidden),
             (QStringList{"blocker"})); // no temporary left behind

    // A full disk cuts the new text short: the save fails and the former file stays whole.
    {
        const QString full = JoinPath(Dirs->Work(), "full.ini");
        Write("full.ini", "[S]\r\nk=old\r\n");
        TIniFile ini(full);
        for (int i = 0; i < 200; ++i)
            ini.WriteString("S", QStringLiteral("key%1").arg(i), QString(40, QLatin1Char('v')));
        bool saved = true;
        {
            TFileSizeLimit limit(100);
            if (!limit.Active())
                QSKIP("no file size limit here");
            saved = ini.Save();
        }
        QVERIFY(!saved);
        QCOMPARE(Read(full), QByteArray("[S]\r\nk=old\r\n"));
    }

    if (geteuid() == 0)
        QSKIP("permissions do not bind root");
    const QString locked = JoinPath(Dirs->Work(), "locked");
    QVERIFY(QDir().mkpath(locked));
    const QString path = JoinPath(locked, "s.ini");
    {
        QFile f(path);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write("[S]\r\nk=old\r\n");
    }
    QVERIFY(QFile::setPermissions(locked, QFile::ReadOwner | QFile::ExeOwner));
    TIniFile ini(path);
    ini.WriteString("S", "k", "new");
    const bool saved = ini.Save();
    const QStringList entries = QDir(locked).entryList(QDir::Files | QDir::Hidden);
    QFile::setPermissions(locked, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    QVERIFY(!saved);
    QCOMPARE(entries, QStringList{"s.ini"}); // no temporary left behind
    QCOMPARE(Read(path), QByteArray("[S]\r\nk=old\r\n"));
}

void TestFiles::iniUnreadableFileIsNotOverwritten() {
    if (geteuid() == 0)
        QSKIP("permissions do not bind root");
    const QString path = Write("secret.ini", "[S]\r\nkeep=1\r\n");
    QVERIFY(QFile::setPermissions(path, QFile::WriteOwner));
    TIniFile ini(path);
    QVERIFY(ini.FileExisted());
    QCOMPARE(ini.ReadInteger("S", "keep", 0), 0);
    ini.WriteString("S", "k", "v");
    QVERIFY(!ini.Save());
    QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner);
    QCOMPARE(Read(path), QByteArray("[S]\r\nkeep=1\r\n"));
}

void TestFiles::iniValueWithLineBreak() {
    const QString path = Write("lb.ini", "[S]\r\nk=1\r\n");
    TIniFile ini(path);
    ini.WriteString("S", "k", "a\r\n[Evil]\nx=1");
    QVERIFY(ini.Save());
    const TIniFile back(path);
    QCOMPARE(back.Sections(), QStringList{"S"});
    QCOMPARE(back.ReadString("S", "k", ""), QStringLiteral("a  [Evil] x=1"));
}

// A settings file that is no regular file, too large or unreadable reads as empty, says which
// file it was and why, is noted once however often it is read, and is never saved over. A
// regular file (also through a symbolic link) up to the limit is read and saved.
void TestFiles::iniOddFiles_data() {
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("reason"); // empty: the file is read
    QTest::newRow("FIFO") << "fifo"
                          << "не обычный файл";
    QTest::newRow("symlink to /dev/zero") << "zero"
                                          << "не обычный файл";
    QTest::newRow("directory") << "dir"
                               << "не обычный файл";
    QTest::newRow("oversized") << "big"
                               << "больше 1024 КБ";
    QTest::newRow("unreadable, plain user") << "locked"
                                            << "нет прав на чтение";
    QTest::newRow("at the limit") << "limit"
                                  << "";
    QTest::newRow("symlink to a file") << "link"
                                       << "";
}

void TestFiles::iniOddFiles() {
    QFETCH(QString, kind);
    QFETCH(QString, reason);
    const QString path = JoinPath(Dirs->Work(), "INI/Timer.ini");
    const QByteArray name = QFile::encodeName(path);
    const QByteArray text = "[S]\r\nk=1\r\n";
    QByteArray content = text; // the bytes of a regular file at the path
    const bool plainUser = kind == "locked";
    if (kind == "fifo") {
        QCOMPARE(::mkfifo(name.constData(), 0644), 0);
    } else if (kind == "zero") {
        QVERIFY(QFile::link("/dev/zero", path));
    } else if (kind == "dir") {
        QVERIFY(QDir().mkpath(path));
    } else if (kind == "link") {
        QVERIFY(QFile::link(Write("real.ini", text), path));
    } else {
        // A comment line fills the file up to the limit, or one byte beyond it.
        if (kind == "big" || kind == "limit")
            content +=
                ";" + QByteArray(IniFileMaxBytes - text.size() - 3 + (kind == "big"), 'x') + "\r\n";
        QVERIFY(!Write("INI/Timer.ini", content).isEmpty());
        if (plainUser) {
            // The folders are the plain user's, the file is not: it cannot be read.
            QVERIFY(GiveToPlainUser(Dirs->Root.path()));
            QVERIFY(!RunningAsRoot() || ::chown(name.constData(), 0, 0) == 0);
            QVERIFY(QFile::setPermissions(path, QFile::WriteOwner));
        }
    }

    const std::optional<QByteArray> out = RunInChild(
        [&] {
            QStringList noted;
            WatchRefusedSettingsFiles([&noted](const QString& text) { noted << text; });
            TIniFile ini(path);
            const TIniFile again(path);
            QStringList got{ini.ReadError(), ini.ReadString("S", "k", "none")};
            ini.WriteString("S", "k", "2");
            got << (ini.Save() ? "saved" : "kept") << noted.join('|');
            return got.join('\n').toUtf8();
        },
        plainUser);
    QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner);
    QVERIFY2(out, "the reading did not end");
    const QStringList got = QString::fromUtf8(*out).split('\n');
    if (reason.isEmpty()) {
        QCOMPARE(got, (QStringList{"", "1", "saved", ""}));
        QCOMPARE(TIniFile(path).ReadString("S", "k", ""), QStringLiteral("2"));
        return;
    }
    const QString refusal = QDir::toNativeSeparators(path) + ": " + reason;
    QCOMPARE(got, (QStringList{refusal, "none", "kept", refusal}));
    // Whatever was in the file's place is still there.
    struct stat st {};
    QCOMPARE(::lstat(name.constData(), &st), 0);
    if (kind == "fifo")
        QVERIFY(S_ISFIFO(st.st_mode));
    else if (kind == "zero")
        QCOMPARE(QFileInfo(path).symLinkTarget(), QStringLiteral("/dev/zero"));
    else if (kind == "dir")
        QVERIFY(S_ISDIR(st.st_mode));
    else
        QCOMPARE(Read(path), content);
}

// A FIFO put in a settings file's place after the file was read is not replaced by the save.
void TestFiles::iniSaveLeavesFifoInPlace() {
    const QString path = JoinPath(Dirs->Work(), "INI/WndPos.ini");
    TIniFile ini(path);
    ini.WriteString("S", "k", "v");
    QCOMPARE(::mkfifo(QFile::encodeName(path).constData(), 0644), 0);
    QVERIFY(!ini.Save());
    struct stat st {};
    QCOMPARE(::lstat(QFile::encodeName(path).constData(), &st), 0);
    QVERIFY(S_ISFIFO(st.st_mode));
}

// A UTF-8 byte order mark makes the file UTF-8 whatever the caller expected (a parameter file
// saved again by an editor that writes UTF-8): its first section is found, and the lines
// written into it are UTF-8 too.
void TestFiles::iniBomMeansUtf8() {
    const QString path = Write("bom.ini", "\xEF\xBB\xBF[Ulmar]\r\nPPM=ППМ-17\r\n");
    TIniFile ini(path, TIniFile::Encoding::Windows1251);
    QCOMPARE(ini.Sections(), QStringList{"Ulmar"});
    QCOMPARE(ini.ReadString("Ulmar", "PPM", ""), QStringLiteral("ППМ-17"));
    ini.WriteString("Ulmar", "NNZ", QStringLiteral("Н/З 5"));
    QVERIFY(ini.Save());
    QCOMPARE(Read(path), QByteArray("\xEF\xBB\xBF[Ulmar]\r\nPPM=ППМ-17\r\nNNZ=Н/З 5\r\n"));
}

QTEST_GUILESS_MAIN(TestFiles)
#include "tst_files.moc"

// An English desktop groups 15000 as "15,000", which a Russian reader takes for fifteen; a
// Russian C library reads "1.5" as 1. The program's locale takes neither from the desktop.
void TestFiles::programLocaleWhateverTheDesktop() {
    const QLocale saved;
    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
    const bool russianC = std::setlocale(LC_NUMERIC, "ru_RU.UTF-8") != nullptr;
    UseProgramLocale();
    const QString shown = QLocale().toString(15000.5, 'f', 1);
    const double parsed = std::strtod("1.5", nullptr);
    QLocale::setDefault(saved);
    QCOMPARE(shown, QStringLiteral("15\u00A0000,5"));
    QCOMPARE(parsed, 1.5);
    if (!russianC)
        QSKIP("the locale ru_RU.UTF-8 is not installed (test.sh makes it)");
}
