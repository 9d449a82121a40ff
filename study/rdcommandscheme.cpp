#include "study/rdcommandscheme.h"

#include "codec/qimage/imagefile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImageWriter>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char **environ;

namespace veltrano {

namespace {

// The process groups of the commands running now, one slot each (0: free),
// for rdKillRunningCommands.
constexpr int runningSlots = 1024;
std::atomic<pid_t> running[runningSlots];

int registerRunning(pid_t pid)
{
    for (int i = 0; i < runningSlots; ++i) {
        pid_t free = 0;
        if (running[i].compare_exchange_strong(free, pid))
            return i;
    }
    return -1;
}

const QStringList placeholders{QStringLiteral("in"), QStringLiteral("out"), QStringLiteral("setting"),
                               QStringLiteral("width"), QStringLiteral("height")};

// The spec's items: split at commas outside quotes, quotes kept.
bool splitSpecItems(const QString &spec, QStringList *items, QString *error)
{
    QString item;
    QChar quote;
    for (int i = 0; i < spec.size(); ++i) {
        const QChar c = spec.at(i);
        if (!quote.isNull()) {
            if (c == QLatin1Char('\\') && quote == QLatin1Char('"') && i + 1 < spec.size()) {
                item += c;
                item += spec.at(++i);
                continue;
            }
            if (c == quote)
                quote = QChar();
        } else if (c == QLatin1Char('\\') && i + 1 < spec.size()) {
            item += c;
            item += spec.at(++i);
            continue;
        } else if (c == QLatin1Char('\'') || c == QLatin1Char('"')) {
            quote = c;
        } else if (c == QLatin1Char(',')) {
            items->append(item.trimmed());
            item.clear();
            continue;
        }
        item += c;
    }
    if (!quote.isNull()) {
        *error = QStringLiteral("a quote (%1) does not end in '%2'").arg(quote, spec);
        return false;
    }
    items->append(item.trimmed());
    items->removeAll(QString());
    return true;
}

// A template's words, quotes undone.
bool splitWords(const QString &text, QStringList *words, QString *error)
{
    QString word;
    bool inWord = false;
    for (int i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i);
        if (c == QLatin1Char('\'')) {
            const int end = text.indexOf(QLatin1Char('\''), i + 1);
            if (end < 0) {
                *error = QStringLiteral("a quote (') does not end in '%1'").arg(text);
                return false;
            }
            word += text.mid(i + 1, end - i - 1);
            inWord = true;
            i = end;
        } else if (c == QLatin1Char('"')) {
            int j = i + 1;
            for (; j < text.size() && text.at(j) != QLatin1Char('"'); ++j) {
                if (text.at(j) == QLatin1Char('\\') && j + 1 < text.size()
                    && (text.at(j + 1) == QLatin1Char('"') || text.at(j + 1) == QLatin1Char('\\')))
                    ++j;
                word += text.at(j);
            }
            if (j >= text.size()) {
                *error = QStringLiteral("a quote (\") does not end in '%1'").arg(text);
                return false;
            }
            inWord = true;
            i = j;
        } else if (c == QLatin1Char('\\') && i + 1 < text.size()) {
            word += text.at(++i);
            inWord = true;
        } else if (c.isSpace()) {
            if (inWord)
                words->append(word);
            word.clear();
            inWord = false;
        } else {
            word += c;
            inWord = true;
        }
    }
    if (inWord)
        words->append(word);
    return true;
}

bool parseTemplate(const QString &key, const QString &text, QStringList *words, QString *error)
{
    if (!splitWords(text, words, error))
        return false;
    if (words->isEmpty()) {
        *error = QStringLiteral("%1= names no program").arg(key);
        return false;
    }
    const QString joined = words->join(QLatin1Char(' '));
    const QRegularExpression word(QStringLiteral("\\{([A-Za-z_]+)\\}"));
    for (auto it = word.globalMatch(joined); it.hasNext();) {
        const QString name = it.next().captured(1);
        if (!placeholders.contains(name)) {
            *error = QStringLiteral("%1= names {%2}; a template knows {in}, {out}, {setting}, {width} and {height}")
                         .arg(key, name);
            return false;
        }
    }
    for (const QString &needed : {QStringLiteral("{in}"), QStringLiteral("{out}")})
        if (!joined.contains(needed)) {
            *error = QStringLiteral("%1= has no %2").arg(key, needed);
            return false;
        }
    return true;
}

bool parseSettings(const QString &text, QVector<int> *settings, QString *error)
{
    constexpr int limit = 1000000;
    constexpr int maxCount = 1000;
    const auto bad = [&](const QString &why) {
        *error = QStringLiteral("settings=%1: %2 (FROM:TO:STEP such as 0:100:5, or values joined by + such as "
                                "10+20+40, integers from -%3 to %3)")
                     .arg(text, why)
                     .arg(limit);
        return false;
    };
    const auto integer = [&](const QString &part, int *value) {
        bool ok = false;
        *value = part.trimmed().toInt(&ok);
        return ok && std::abs(*value) <= limit;
    };
    settings->clear();
    const QStringList range = text.split(QLatin1Char(':'));
    if (range.size() == 3) {
        int from = 0;
        int to = 0;
        int step = 0;
        if (!integer(range[0], &from) || !integer(range[1], &to) || !integer(range[2], &step))
            return bad(QStringLiteral("not three integers"));
        if (step <= 0 || from > to)
            return bad(QStringLiteral("FROM must be at most TO and STEP positive"));
        if ((to - from) / step >= maxCount)
            return bad(QStringLiteral("more than %1 settings").arg(maxCount));
        for (int value = from; value <= to; value += step)
            settings->append(value);
        return true;
    }
    if (range.size() != 1)
        return bad(QStringLiteral("not a range"));
    for (const QString &part : text.split(QLatin1Char('+'))) {
        int value = 0;
        if (!integer(part, &value))
            return bad(QStringLiteral("'%1' is not an integer").arg(part));
        if (!settings->isEmpty() && value <= settings->last())
            return bad(QStringLiteral("the values must rise"));
        settings->append(value);
    }
    if (settings->size() > maxCount)
        return bad(QStringLiteral("more than %1 settings").arg(maxCount));
    return true;
}

// The words of a template with the placeholders filled in.
QStringList filled(const QStringList &words, const QString &in, const QString &out, int setting, const QSize &size)
{
    QStringList result;
    for (QString word : words) {
        word.replace(QLatin1String("{in}"), in);
        word.replace(QLatin1String("{out}"), out);
        word.replace(QLatin1String("{setting}"), QString::number(setting));
        word.replace(QLatin1String("{width}"), QString::number(size.width()));
        word.replace(QLatin1String("{height}"), QString::number(size.height()));
        result.append(word);
    }
    return result;
}

QString lastLine(const QString &fileName)
{
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly))
        return QString();
    // The end of what it wrote is enough.
    if (file.size() > 65536)
        file.seek(file.size() - 65536);
    const QStringList lines = QString::fromLocal8Bit(file.readAll()).split(QLatin1Char('\n'));
    for (auto it = lines.crbegin(); it != lines.crend(); ++it) {
        const QString line = it->simplified();
        if (!line.isEmpty())
            return line.size() > 300 ? line.left(300) + QStringLiteral("...") : line;
    }
    return QString();
}

// What went wrong with a run, or an empty string when it ended with status 0.
QString runFault(const QString &role, const QString &program, const RdCommandRun &run, double timeoutSeconds)
{
    QString fault;
    if (!run.started)
        return QStringLiteral("cannot run the %1 '%2': %3").arg(role, program, run.startError);
    if (run.timedOut)
        fault = QStringLiteral("the %1 '%2' did not end within %3 s and was killed")
                    .arg(role, program, QString::number(timeoutSeconds));
    else if (run.signal != 0)
        fault = QStringLiteral("the %1 '%2' was ended by signal %3 (%4)")
                    .arg(role, program)
                    .arg(run.signal)
                    .arg(QString::fromLocal8Bit(sigdescr_np(run.signal)));
    else if (run.exitStatus != 0)
        fault = QStringLiteral("the %1 '%2' exited with status %3").arg(role, program).arg(run.exitStatus);
    return fault;
}

QString withErrorLine(const QString &fault, const RdCommandRun &run)
{
    return run.lastErrorLine.isEmpty() ? fault : fault + QStringLiteral(": ") + run.lastErrorLine;
}

// A private temporary folder for one call.
bool makeFolder(QTemporaryDir &folder, QString *error)
{
    if (folder.isValid())
        return true;
    *error = QStringLiteral("cannot create a temporary folder: %1").arg(folder.errorString());
    return false;
}

QString temporaryTemplate()
{
    return QDir(QDir::tempPath()).filePath(QStringLiteral("ftjpeg-rd-XXXXXX"));
}

bool writeSource(const QImage &source, const QString &fileName, bool png, QString *error)
{
    const QImage rgb = source.convertToFormat(QImage::Format_RGB888);
    if (rgb.isNull()) {
        *error = QStringLiteral("not enough memory for the encoder's input");
        return false;
    }
    QImageWriter writer(fileName, png ? "png" : "ppm");
    if (!writer.write(rgb)) {
        *error = QStringLiteral("cannot write the encoder's input %1: %2")
                     .arg(QDir::toNativeSeparators(fileName), writer.errorString());
        return false;
    }
    return true;
}

} // namespace

bool checkRdSchemeName(const QString &name, QString *error)
{
    if (!QRegularExpression(QStringLiteral("^[A-Za-z0-9_][A-Za-z0-9._+-]{0,63}$")).match(name).hasMatch()) {
        *error = QStringLiteral("a name is 1 to 64 letters, digits, '.', '_', '+' and '-', not starting with '.', "
                                "'+' or '-'");
        return false;
    }
    if (rdStandardSchemeNames().contains(name) || name == QLatin1String("region") || name == QLatin1String("average")) {
        *error = QStringLiteral("the name of a built-in scheme");
        return false;
    }
    return true;
}

bool checkRdSettings(const QVector<int> &settings, QString *error)
{
    if (settings.isEmpty() || settings.size() > 1000) {
        *error = QStringLiteral("a scheme has 1 to 1000 settings, not %1").arg(settings.size());
        return false;
    }
    for (int i = 1; i < settings.size(); ++i)
        if (settings[i] <= settings[i - 1]) {
            *error = QStringLiteral("the settings must rise");
            return false;
        }
    return true;
}

bool parseRdCommandSpec(const QString &spec, RdCommandSpec *result, QString *error)
{
    QStringList items;
    if (!splitSpecItems(spec, &items, error))
        return false;
    if (items.isEmpty()) {
        *error = QStringLiteral("an empty command spec");
        return false;
    }
    RdCommandSpec parsed;
    QStringList seen;
    for (const QString &item : items) {
        const int equals = item.indexOf(QLatin1Char('='));
        const QString key = equals < 0 ? item : item.left(equals).trimmed();
        const QString value = equals < 0 ? QString() : item.mid(equals + 1).trimmed();
        if (seen.contains(key)) {
            *error = QStringLiteral("'%1' is given twice in '%2'").arg(key, spec);
            return false;
        }
        seen.append(key);
        if (equals < 0 && (key == QLatin1String("name") || key == QLatin1String("encode")
                           || key == QLatin1String("decode") || key == QLatin1String("settings")
                           || key == QLatin1String("input") || key == QLatin1String("suffix"))) {
            *error = QStringLiteral("%1 needs a value (%1=...) in '%2'").arg(key, spec);
            return false;
        }
        if (key == QLatin1String("name")) {
            if (!checkRdSchemeName(value, error)) {
                *error = QStringLiteral("name=%1: %2").arg(value, *error);
                return false;
            }
            parsed.name = value;
        } else if (key == QLatin1String("encode")) {
            if (!parseTemplate(key, value, &parsed.encode, error))
                return false;
        } else if (key == QLatin1String("decode")) {
            if (!parseTemplate(key, value, &parsed.decode, error))
                return false;
            if (parsed.decode.join(QLatin1Char(' ')).contains(QLatin1String("{setting}"))) {
                *error = QStringLiteral("decode= names {setting}, but a decoder gets the encoded file alone");
                return false;
            }
        } else if (key == QLatin1String("settings")) {
            if (!parseSettings(value, &parsed.settings, error))
                return false;
        } else if (key == QLatin1String("input")) {
            if (value != QLatin1String("ppm") && value != QLatin1String("png")) {
                *error = QStringLiteral("input=%1: the input is ppm or png").arg(value);
                return false;
            }
            parsed.pngInput = value == QLatin1String("png");
        } else if (key == QLatin1String("suffix")) {
            if (!QRegularExpression(QStringLiteral("^[A-Za-z0-9]{1,16}$")).match(value).hasMatch()) {
                *error = QStringLiteral("suffix=%1: a suffix is 1 to 16 letters and digits").arg(value);
                return false;
            }
            parsed.suffix = value;
        } else {
            *error = QStringLiteral("'%1' in '%2' is not a command key (name=NAME, encode=TEMPLATE, "
                                    "decode=TEMPLATE, settings=LIST, input=ppm|png, suffix=EXT)")
                         .arg(item, spec);
            return false;
        }
    }
    for (const char *needed : {"name", "encode", "decode", "settings"})
        if (!seen.contains(QLatin1String(needed))) {
            *error = QStringLiteral("'%1' has no %2=").arg(spec, QLatin1String(needed));
            return false;
        }
    *result = parsed;
    return true;
}

bool readRdSchemeFile(const QString &fileName, QVector<RdCommandSpec> *specs, QString *error)
{
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly)) {
        *error = QStringLiteral("cannot read %1: %2").arg(QDir::toNativeSeparators(fileName), file.errorString());
        return false;
    }
    const QStringList lines = QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'));
    for (int i = 0; i < lines.size(); ++i) {
        const QString line = lines[i].trimmed();
        if (line.isEmpty() || line.startsWith(QLatin1Char('#')))
            continue;
        RdCommandSpec spec;
        QString fault;
        if (!parseRdCommandSpec(line, &spec, &fault)) {
            *error = QStringLiteral("%1, line %2: %3").arg(QDir::toNativeSeparators(fileName)).arg(i + 1).arg(fault);
            return false;
        }
        specs->append(spec);
    }
    return true;
}

RdCommandRun runRdCommand(const QStringList &arguments, const QString &folder, double timeoutSeconds)
{
    RdCommandRun run;
    std::vector<QByteArray> bytes;
    for (const QString &argument : arguments)
        bytes.push_back(QFile::encodeName(argument));
    std::vector<char *> argv;
    for (QByteArray &argument : bytes)
        argv.push_back(argument.data());
    argv.push_back(nullptr);
    const QByteArray directory = QFile::encodeName(folder);
    const QByteArray errors = QFile::encodeName(QDir(folder).filePath(QStringLiteral(".stderr")));
    const QByteArray output = QFile::encodeName(QDir(folder).filePath(QStringLiteral(".stdout")));

    posix_spawn_file_actions_t actions;
    posix_spawnattr_t attributes;
    posix_spawn_file_actions_init(&actions);
    posix_spawnattr_init(&attributes);
    posix_spawn_file_actions_addchdir_np(&actions, directory.constData());
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, output.constData(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, errors.constData(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    // A process group of its own, so that a time-out ends whatever it started.
    posix_spawnattr_setpgroup(&attributes, 0);
    sigset_t defaults;
    sigemptyset(&defaults);
    for (int signal : {SIGINT, SIGTERM, SIGHUP, SIGPIPE, SIGCHLD})
        sigaddset(&defaults, signal);
    posix_spawnattr_setsigdefault(&attributes, &defaults);
    sigset_t none;
    sigemptyset(&none);
    posix_spawnattr_setsigmask(&attributes, &none);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);
    pid_t pid = 0;
    const int spawned = posix_spawnp(&pid, argv[0], &actions, &attributes, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    if (spawned != 0) {
        run.startError = QString::fromLocal8Bit(std::strerror(spawned));
        return run;
    }
    run.started = true;
    const int slot = registerRunning(pid);

    const auto start = std::chrono::steady_clock::now();
    const auto limit = std::chrono::duration<double>(timeoutSeconds);
    auto pause = std::chrono::milliseconds(1);
    int status = 0;
    for (;;) {
        const pid_t ended = waitpid(pid, &status, WNOHANG);
        if (ended == pid)
            break;
        if (ended < 0 && errno != EINTR) {
            status = 0;
            break;
        }
        if (std::chrono::steady_clock::now() - start > limit) {
            run.timedOut = true;
            kill(-pid, SIGKILL);
            while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
            }
            break;
        }
        std::this_thread::sleep_for(pause);
        pause = std::min(pause * 2, std::chrono::milliseconds(20));
    }
    if (!run.timedOut) {
        if (WIFEXITED(status))
            run.exitStatus = WEXITSTATUS(status);
        else if (WIFSIGNALED(status))
            run.signal = WTERMSIG(status);
        // Whatever it left running in its group ends with it.
        kill(-pid, SIGKILL);
    }
    if (slot >= 0)
        running[slot] = 0;
    run.lastErrorLine = lastLine(QFile::decodeName(errors));
    return run;
}

void rdKillRunningCommands()
{
    for (int i = 0; i < runningSlots; ++i) {
        const pid_t pid = running[i].load();
        if (pid > 0)
            kill(-pid, SIGKILL);
    }
}

RdScheme rdCommandScheme(const RdCommandSpec &spec, double timeoutSeconds)
{
    RdScheme scheme;
    scheme.name = spec.name;
    scheme.settingName = QStringLiteral("%1 setting").arg(spec.name);
    scheme.suffix = spec.suffix;
    scheme.settings = spec.settings;
    scheme.skipFailedPoints = true;
    scheme.encode = [spec, timeoutSeconds](const QImage &source, int setting, QString *error) {
        QTemporaryDir folder(temporaryTemplate());
        if (!makeFolder(folder, error))
            return QByteArray();
        const QString in = folder.filePath(spec.pngInput ? QStringLiteral("input.png") : QStringLiteral("input.ppm"));
        const QString out = folder.filePath(QStringLiteral("encoded.") + spec.suffix);
        if (!writeSource(source, in, spec.pngInput, error))
            return QByteArray();
        const RdCommandRun run =
            runRdCommand(filled(spec.encode, in, out, setting, source.size()), folder.path(), timeoutSeconds);
        const QString fault = runFault(QStringLiteral("encoder"), spec.encode.front(), run, timeoutSeconds);
        if (!fault.isEmpty()) {
            *error = withErrorLine(fault, run);
            return QByteArray();
        }
        QFile file(out);
        if (!file.open(QIODevice::ReadOnly)) {
            *error = withErrorLine(
                QStringLiteral("the encoder '%1' wrote no file %2").arg(spec.encode.front(), QFileInfo(out).fileName()),
                run);
            return QByteArray();
        }
        const QByteArray data = file.readAll();
        if (data.isEmpty())
            *error = withErrorLine(QStringLiteral("the encoder '%1' wrote an empty file").arg(spec.encode.front()), run);
        return data;
    };
    scheme.decode = [spec, timeoutSeconds](const QByteArray &data, const QSize &size, QString *error) {
        QTemporaryDir folder(temporaryTemplate());
        if (!makeFolder(folder, error))
            return QImage();
        const QString in = folder.filePath(QStringLiteral("encoded.") + spec.suffix);
        const QString out = folder.filePath(spec.pngInput ? QStringLiteral("decoded.png") : QStringLiteral("decoded.ppm"));
        if (!writeFileAtomically(in, data, error))
            return QImage();
        const RdCommandRun run = runRdCommand(filled(spec.decode, in, out, 0, size), folder.path(), timeoutSeconds);
        const QString fault = runFault(QStringLiteral("decoder"), spec.decode.front(), run, timeoutSeconds);
        if (!fault.isEmpty()) {
            *error = withErrorLine(fault, run);
            return QImage();
        }
        if (!QFileInfo::exists(out)) {
            *error = withErrorLine(
                QStringLiteral("the decoder '%1' wrote no file %2").arg(spec.decode.front(), QFileInfo(out).fileName()),
                run);
            return QImage();
        }
        QImage image;
        QString reason;
        if (!readImageFile(out, image, &reason)) {
            *error = QStringLiteral("the decoder's output cannot be read: %1").arg(reason);
            return QImage();
        }
        if (image.size() != size) {
            *error = QStringLiteral("the decoder's output has %1x%2 pixels, the source %3x%4")
                         .arg(image.width())
                         .arg(image.height())
                         .arg(size.width())
                         .arg(size.height());
            return QImage();
        }
        return image;
    };
    return scheme;
}

} // namespace veltrano
