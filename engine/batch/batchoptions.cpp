#include "batch/batchoptions.h"

#include <QDir>
#include <QFile>

#include <sched.h>
#include <sys/stat.h>

#include <algorithm>

namespace {

// The most files at once: beyond this, jobs only wait for each other.
constexpr int kMostJobs = 256;

// The bit rates LAME takes for constant bit rate MP3 (-b).
constexpr int kBitrates[] = {8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320};

bool ReadNumber(const QString& text, int lowest, int highest, int& value) {
    bool ok = false;
    const int n = text.toInt(&ok, 10);
    if (!ok || n < lowest || n > highest || text.startsWith(QLatin1Char('+')))
        return false;
    value = n;
    return true;
}

// The path made absolute and tidied ("." and ".." parts, doubled "/"). The
// bytes go through Latin-1, which maps each byte to one character and back,
// so a name that is not UTF-8 keeps its bytes.
QByteArray Absolute(const QByteArray& path, const QByteArray& currentFolder) {
    const QByteArray joined = path.startsWith('/') ? path : currentFolder + '/' + path;
    return QDir::cleanPath(QString::fromLatin1(joined)).toLatin1();
}

bool NamesExistingEntry(const QByteArray& path) {
    struct stat st;
    return ::lstat(path.constData(), &st) == 0;
}

}  // namespace

bool IsBatchCommand(const QByteArrayList& arguments) {
    for (const QByteArray& a : arguments) {
        if (a == "--")
            return false;
        if (a == "--convert")
            return true;
    }
    return false;
}

namespace {

// Reads one option at arguments[i] into options (i moves past a value it
// takes). Returns what is wrong with it, or "" when it was taken.
QString TakeOption(const QByteArrayList& arguments, qsizetype& i, const QByteArray& currentFolder,
                   BatchOptions& options, int& bitrate, int& vbr) {
    const QByteArray& arg = arguments.at(i);
    // "--name=value" and "--name value" are the same.
    QByteArray name = arg;
    QByteArray value;
    bool inlineValue = false;
    const qsizetype equals = arg.indexOf('=');
    if (arg.startsWith("--") && equals > 0) {
        name = arg.left(equals);
        value = arg.mid(equals + 1);
        inlineValue = true;
    }
    QString text;
    const auto takeValue = [&]() -> bool {
        if (!inlineValue) {
            if (i + 1 >= arguments.size())
                return false;
            value = arguments.at(++i);
        }
        text = QString::fromUtf8(value);
        return true;
    };
    const bool flag = name == "--convert" || name == "--keep-folders" || name == "--skip-existing" ||
                      name == "--quiet" || name == "-q" || name == "--help" || name == "-h" ||
                      name == "--dry-run" || name == "-n" || name == "--portable-names" ||
                      name == "--overwrite" || name == "--no-folder-art" || name == "--keep-dates";
    if (flag && inlineValue)
        return QStringLiteral("option %1 takes no value").arg(QString::fromUtf8(name));
    if (name == "--convert") {
    } else if (name == "--help" || name == "-h") {
        options.action = BatchOptions::ShowHelp;
    } else if (name == "--keep-folders") {
        options.keepFolders = true;
    } else if (name == "--skip-existing") {
        options.skipExisting = true;
    } else if (name == "--quiet" || name == "-q") {
        options.quiet = true;
    } else if (name == "--dry-run" || name == "-n") {
        options.dryRun = true;
    } else if (name == "--portable-names") {
        options.portableNames = true;
    } else if (name == "--overwrite") {
        options.overwrite = true;
    } else if (name == "--no-folder-art") {
        options.folderArt = false;
    } else if (name == "--keep-dates") {
        options.keepDates = true;
    } else if (name == "--name") {
        if (!takeValue())
            return QStringLiteral("option --name needs a pattern or a preset");
        QString problem;
        options.name = NamePattern::Parse(text, &problem);
        if (!options.name)
            return problem;
    } else if (name == "--to") {
        if (!takeValue())
            return QStringLiteral("option --to needs one of %1").arg(FormatNames(", "));
        const FormatRow* format = FormatNamed(text);
        if (!format)
            return QStringLiteral("--to takes one of %1, not \"%2\"").arg(FormatNames(", "), text);
        options.format = format->id;
    } else if (name == "--output" || name == "-o") {
        if (!takeValue() || value.isEmpty())
            return QStringLiteral("option --output needs a folder");
        options.outputFolder = Absolute(value, currentFolder);
    } else if (name == "--jobs" || name == "-j") {
        if (!takeValue() || !ReadNumber(text, 1, kMostJobs, options.jobs))
            return QStringLiteral("--jobs takes a number from 1 to %1").arg(kMostJobs);
    } else if (name == "--bitrate") {
        // Checked against the format once every option is read.
        if (!takeValue() || !ReadNumber(text, 1, 100000, bitrate))
            return QStringLiteral("--bitrate takes a number of kb/s");
    } else if (name == "--vbr") {
        if (!takeValue() || !ReadNumber(text, 0, 9, vbr))
            return QStringLiteral("--vbr takes a quality from 0 (best) to 9");
    } else {
        return QStringLiteral("unknown option %1").arg(QString::fromUtf8(name));
    }
    return QString();
}

}  // namespace

BatchOptions ParseBatchOptions(const QByteArrayList& arguments, const QByteArray& currentFolder,
                               int defaultJobs) {
    BatchOptions options;
    options.jobs = std::clamp(defaultJobs, 1, kMostJobs);
    const auto bad = [&options](const QString& problem) {
        options.action = BatchOptions::BadUsage;
        options.problem = problem;
        return options;
    };
    int bitrate = 0;
    int vbr = -1;
    bool optionsEnded = false;
    for (qsizetype i = 0; i < arguments.size(); ++i) {
        const QByteArray& arg = arguments.at(i);
        if (optionsEnded || !arg.startsWith('-') || arg == "-") {
            options.paths << Absolute(arg, currentFolder);
            options.givenPaths << arg;
            continue;
        }
        if (arg == "--") {
            optionsEnded = true;
            continue;
        }
        // A file whose name begins with "-", as a shell's *.wma can give it:
        // a file where it can be no option, refused where it can be one.
        const bool namesFile = NamesExistingEntry(Absolute(arg, currentFolder));
        BatchOptions taken = options;
        const qsizetype at = i;
        const QString problem = TakeOption(arguments, i, currentFolder, taken, bitrate, vbr);
        if (namesFile && !problem.isEmpty()) {
            i = at;
            options.paths << Absolute(arg, currentFolder);
            options.givenPaths << arg;
            continue;
        }
        if (namesFile)
            return bad(QStringLiteral("\"%1\" is both an option and a file here: put -- before the "
                                      "files, or name them as ./*.wma")
                           .arg(QFile::decodeName(arg)));
        if (!problem.isEmpty())
            return bad(problem);
        options = taken;
        if (options.action == BatchOptions::ShowHelp)
            return options;
    }
    const FormatRow& format = FormatOf(options.format);
    if (bitrate > 0 && vbr >= 0)
        return bad(QStringLiteral("--bitrate and --vbr exclude each other"));
    if (vbr >= 0 && !format.takesVbr)
        return bad(QStringLiteral("--vbr is for mp3 only"));
    if (bitrate > 0 && format.highestBitrate == 0)
        return bad(QStringLiteral("--bitrate is not for %1").arg(QLatin1String(format.name)));
    if (bitrate > 0 && format.bitrateSteps &&
        std::find(std::begin(kBitrates), std::end(kBitrates), bitrate) == std::end(kBitrates))
        return bad(QStringLiteral("--bitrate takes one of 8 16 24 32 40 48 56 64 80 96 112 128 160 192 224 256 320"));
    if (bitrate > 0 && (bitrate < format.lowestBitrate || bitrate > format.highestBitrate))
        return bad(QStringLiteral("--bitrate for %1 takes %2 to %3 kb/s")
                       .arg(QLatin1String(format.name))
                       .arg(format.lowestBitrate)
                       .arg(format.highestBitrate));
    if (options.keepFolders && options.outputFolder.isEmpty())
        return bad(QStringLiteral("--keep-folders needs --output"));
    if (options.keepFolders && options.name)
        return bad(QStringLiteral("--name and --keep-folders exclude each other: a pattern places each result "
                                  "itself ({folder} gives the source's folder)"));
    if (options.paths.isEmpty())
        return bad(QStringLiteral("no file or folder to convert"));
    struct stat output;
    if (!options.outputFolder.isEmpty() && ::stat(options.outputFolder.constData(), &output) == 0 &&
        !S_ISDIR(output.st_mode))
        return bad(QStringLiteral("--output %1 is not a folder").arg(QFile::decodeName(options.outputFolder)));
    options.quality = EncoderQuality{bitrate, vbr};
    return options;
}

QString BatchUsageText() {
    return QStringLiteral(
               "Usage: brenvale --convert [--to %1] [--output DIR [--keep-folders]]\n"
               "                [--name PATTERN] [--skip-existing] [--portable-names] [--overwrite]\n"
               "                [--no-folder-art] [--keep-dates] [--jobs N] [--bitrate KBPS | --vbr 0..9]\n"
               "                [--quiet] [--dry-run] [--] FILE|FOLDER...\n"
               "Try 'brenvale --convert --help' for more information.\n")
        .arg(FormatNames("|"));
}

QString BatchHelpText() {
    QString formats;
    for (const FormatRow& row : kFormats)
        formats += QStringLiteral("                        %1 %2\n")
                       .arg(QLatin1String(row.name), -5)
                       .arg(QLatin1String(row.purpose));
    return QStringLiteral(
        "Usage: brenvale --convert [OPTION]... FILE|FOLDER...\n"
        "Converts WMA files to MP3, WAV, FLAC, Opus or M4A without a window (no display\n"
        "needed). Each FILE is converted; each FOLDER is searched, its whole tree, for\n"
        "files whose extension is .wma in any letter case.\n"
        "\n"
        "  --to FORMAT         the format of the results (default: mp3):\n") + formats + QStringLiteral(
        "                      (the window offers mp3 and wav)\n"
        "  -o, --output DIR    put the results in DIR (made when missing); without it\n"
        "                      each result goes beside its source\n"
        "  --keep-folders      with --output: a file found in a FOLDER goes to the same\n"
        "                      place under DIR as it has under that FOLDER\n"
        "  --name PATTERN      name and file each result by its source's tags, with a\n"
        "                      pattern (see \"Names from tags\" below) or a preset:\n"
        "                        album  ARTIST/ALBUM/[DISC-]TRACK TITLE\n"
        "                        flat   ARTIST - TITLE\n"
        "  --no-folder-art     leave out the album art that Windows keeps beside the\n"
        "                      files (Folder.jpg, AlbumArt_{...}_Large.jpg), which\n"
        "                      otherwise goes into results whose source has no picture\n"
        "  --keep-dates        give each result its source's modification time\n"
        "  --skip-existing     leave alone each source's result that the output folder's\n"
        "                      ledger records as made from it, unchanged and with the\n"
        "                      same options; convert the others (to resume a run)\n"
        "  --portable-names    names that FAT, exFAT and Windows take (\"?\" \":\" \"*\" ...\n"
        "                      replaced by \"_\", other encodings made UTF-8) on any file\n"
        "                      system; done anyway where the output refuses such names\n"
        "  --overwrite         replace a file of yours that stands at a result's name\n"
        "                      (without it the result takes the next free name)\n"
        "  -j, --jobs N        convert N files at once (default: the usable cores)\n"
        "  --bitrate KBPS      MP3 at a constant bit rate: 8 16 24 32 40 48 56 64 80 96\n"
        "                      112 128 160 192 224 256 320; Opus (6 to 510) and M4A\n"
        "                      (16 to 512) at that bit rate instead of their default\n"
        "  --vbr Q             MP3 at a variable bit rate of quality Q, 0 (best) to 9\n"
        "                      (without either, MP3 has the encoder's own defaults, the\n"
        "                      same bytes as the window makes)\n"
        "  -q, --quiet         print only failures (no updating line, no summary)\n"
        "  -n, --dry-run       say what would be converted and where; convert nothing\n"
        "  -h, --help          print this help\n"
        "  --                  what follows is a FILE or FOLDER even if it begins with \"-\"\n"
        "                      (or name files as ./*.wma, never as *.wma)\n"
        "\n"
        "Every result's name is decided before anything is converted: the arguments in\n"
        "the order given, each folder's files sorted by path; sources that share a name\n"
        "get \"NAME (2).mp3\", \"NAME (3).mp3\" ... in that order, and are listed first.\n"
        "A source that has a result already keeps its name. A result is linked in only\n"
        "when whole, and never replaces another source's result, a file of yours\n"
        "(unless --overwrite) or another user's file. Where the output's file system\n"
        "takes names equal but for letter case as one (FAT, exFAT), they are numbered\n"
        "apart. Each output folder keeps a ledger of the results made there\n"
        "(.brenvale-ledger). Files left out of a FOLDER (hidden, \"~\", not regular,\n"
        "links of other users, given twice) are named in the summary.\n"
        "\n"
        "Names from tags (--name): {FIELD} is the value of a field: title, artist (the\n"
        "first), artists (all), albumartist (else the artist; \"Various Artists\" for a\n"
        "compilation), album, track and disc (with zeros to the width of their totals,\n"
        "a track at least 2 wide; no disc for a set of one), tracktotal, disctotal,\n"
        "year, genre, composer, filename (the source's name without .wma), folder (its\n"
        "folder under the FOLDER argument). {albumartist|artist|Unknown Artist} takes\n"
        "the first that has a value; an alternative that is not one lower-case word is\n"
        "text. [...] is left out when a field in it has no value. \"/\" makes folders;\n"
        "\"/\" and control characters in a value become \"_\". A source whose tags lack a\n"
        "field the pattern needs keeps its own name. The presets:\n"
        "  album = {albumartist|Unknown Artist}/{album|Unknown Album}/[{disc}-][{track} ]{title|filename}\n"
        "  flat  = {artist|Unknown Artist} - {title|filename}\n"
        "\n"

        "Output: a line per finished file on stdout (\"[n/N] converted SOURCE -> RESULT\",\n"
        "\"[n/N] skipped ...\", \"[n/N] failed SOURCE: cause\"), then the summary: so\n"
        "\"> log.txt\" keeps them. Where stderr is a terminal it shows one updating line\n"
        "(done/total, failures, files per minute, time left, the file in work under its\n"
        "FOLDER); on a terminal that shows stdout too, that line stands for the lines of\n"
        "files converted or skipped. Wrong usage, an output that cannot be written, and\n"
        "a stop by a signal, with the command that converts the rest (the same arguments\n"
        "and --skip-existing), go to stderr. The tags of each source are kept.\n"
        "\n"
        "Exit status: 0 every file converted or skipped (names changed on the way are\n"
        "said in the summary), 1 at least one file failed (or\n"
        "could not be read, or was cut short and converted up to the cut),\n"
        "2 wrong usage, 130 interrupted (Ctrl-C), 143 terminated (SIGTERM), 129 hung up\n"
        "(SIGHUP). An interrupted run leaves no partial result; what was converted stays.\n");
}

QByteArray BatchOptions::OptionsText() const {
    QByteArray text = FormatOf(format).name;
    if (quality.bitrate > 0)
        text += " --bitrate " + QByteArray::number(quality.bitrate);
    if (quality.vbr >= 0)
        text += " --vbr " + QByteArray::number(quality.vbr);
    return text;
}

int UsableCores() {
    cpu_set_t set;
    CPU_ZERO(&set);
    if (::sched_getaffinity(0, sizeof set, &set) != 0)
        return 1;
    return std::max(1, CPU_COUNT(&set));
}
