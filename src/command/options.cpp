#include "command/options.h"

#include <QCommandLineParser>
#include <QRegularExpression>
#include <algorithm>
#include <cstdio>
#include <functional>
#include <limits>
#include <vector>

#include "command/report.h"
#include "fileio/textio.h"
#include "picture/picturefile.h"
#include "picture/supersample.h"

namespace {

const char* const kAbout = "Renders the Lumivex scene by sphere tracing and writes the picture.";

const char* const kAfterOptions =
    "\n"
    "An option's value follows it, or comes after '=' (--size=200x150).\n"
    "Without a scene file the built-in scene is rendered at 1024 x 768.\n"
    "Progress shows on standard error when it is a terminal. Ctrl+C, a termination request, a\n"
    "closed terminal or another signal that ends programs stops it after leaving only whole\n"
    "pictures behind, and a second one at once.\n"
    "Exit status: 0 on success, 1 when a file cannot be read or written, 2 for bad options;\n"
    "stopped by a signal, it ends by that signal (130 for Ctrl+C, 143 for a termination request,\n"
    "129 for a closed terminal).\n";

// A whole number from lo to hi in plain digits, as options take them: no sign, no blanks.
bool parseWhole(const QString& text, qint64 lo, qint64 hi, qint64& out)
{
    const QByteArray digits = text.toUtf8();
    return !digits.isEmpty() && std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; }) &&
           readWholeNumber(digits, lo, hi, out) == NumberText::Ok;
}

bool parseCount(const QString& text, int lo, int hi, int& out)
{
    qint64 v = 0;
    if (!parseWhole(text, lo, hi, v))
        return false;
    out = int(v);
    return true;
}

// "X,Y,Z", read as the files read their numbers; otherwise what is wrong.
QString parseCamera(const QString& text, Vector3D& out)
{
    const QList<QByteArray> parts = text.toUtf8().split(',');
    if (parts.size() != 3)
        return QStringLiteral("--camera takes three numbers X,Y,Z, not '%1'").arg(quoted(text));
    float v[3];
    for (int k = 0; k < 3; ++k) {
        const QByteArray value = parts[k].trimmed();
        const NumberText result = readFloat(value, v[k]);
        if (result != NumberText::Ok)
            return QStringLiteral("--camera X,Y,Z: the %1 value %2%3")
                .arg(QString(QChar("XYZ"[k])), value.isEmpty() ? QString() : "'" + printable(value) + "' ",
                     numberProblem(result));
    }
    out = Vector3D(v[0], v[1], v[2]);
    return QString();
}

// "WxH", each side a whole number from 1 to 8192.
bool parseSize(const QString& text, QSize& out)
{
    const QStringList sides = text.split(QRegularExpression(QStringLiteral("[xX]")));
    int w = 0, h = 0;
    if (sides.size() != 2 || !parseCount(sides[0], kMinPictureSide, kMaxPictureSide, w) ||
        !parseCount(sides[1], kMinPictureSide, kMaxPictureSide, h))
        return false;
    out = QSize(w, h);
    return true;
}

// A whole number option from lo to hi into `out`; otherwise what is wrong.
QString takeCount(const char* name, const QString& v, int lo, int hi, int& out)
{
    if (parseCount(v, lo, hi, out))
        return QString();
    return QStringLiteral("%1 takes a whole number from %2 to %3, not '%4'").arg(name).arg(lo).arg(hi).arg(quoted(v));
}

// One option: its names, the name of its value (none for a switch), its line of help, and how
// it is taken into the options. `take` returns what is wrong with the value, or nothing.
struct OptionRow {
    QStringList names;
    QString valueName;
    QString help;
    std::function<QString(Options& o, const QString& value)> take;
};

std::vector<OptionRow> optionTable()
{
    using O = Options;
    const auto text = [](QString O::*field) { return [field](O& o, const QString& v) { (o.*field) = v; return QString(); }; };
    const auto on = [](bool O::*field) { return [field](O& o, const QString&) { (o.*field) = true; return QString(); }; };
    return {
        {{"o", "output"}, "FILE", "write the picture; FILE ends in .png, .jpg, .bmp or .ppm (binary P6)", text(&O::output)},
        {{"xml"}, "FILE", "load the scene from an XML scene file first", text(&O::loadXml)},
        {{"bin"}, "FILE", "load the scene from a line-format (\"Bin\") scene file first", text(&O::loadBin)},
        {{"camera"}, "X,Y,Z", "put the camera there (after any load)",
         [](O& o, const QString& v) {
             o.haveCamera = true;
             return parseCamera(v, o.camera);
         }},
        {{"blur"}, "", "smooth the picture once with the Gaussian blur", on(&O::blur)},
        {{"supersample"}, "K", QStringLiteral("K x K rays a pixel (1 to %1), averaged; --blur comes after").arg(kMaxSupersample),
         [](O& o, const QString& v) { return takeCount("--supersample", v, 1, kMaxSupersample, o.supersample); }},
        {{"size"}, "WxH", QStringLiteral("render at W x H pixels (1 to %1 a side; after any load)").arg(kMaxPictureSide),
         [](O& o, const QString& v) {
             return parseSize(v, o.size) ? QString()
                                         : QStringLiteral("--size takes WIDTHxHEIGHT, each from 1 to %1, not '%2'")
                                               .arg(kMaxPictureSide)
                                               .arg(quoted(v));
         }},
        {{"save-xml"}, "FILE", "write the scene as an XML scene file", text(&O::saveXml)},
        {{"save-bin"}, "FILE", "write the scene as a line-format scene file", text(&O::saveBin)},
        {{"repeat"}, "N", "render N times (1 to 100000), for timing; the picture is written once",
         [](O& o, const QString& v) {
             o.repeatGiven = true;
             return takeCount("--repeat", v, 1, 100000, o.repeat);
         }},
        {{"threads"}, "N", "render on N threads (1 to 1024; default: every core)",
         [](O& o, const QString& v) { return takeCount("--threads", v, 1, 1024, o.threads); }},
        {{"reference"}, "", "render with the plain single-threaded tracer (same picture, slower)", on(&O::reference)},
        {{"path"}, "FILE",
         "render every frame of a camera path (lines \"FRAME X Y Z\"); the output name takes the frame number where "
         "it says %d or %04d",
         text(&O::path)},
        {{"smooth"}, "", "move along a smooth Catmull-Rom curve through the key frames", on(&O::smooth)},
        {{"frames"}, "A:B", "render only frames A to B of the path",
         [](O& o, const QString& v) {
             const QStringList ends = v.split(':');
             const auto frame = [](const QString& t, qint64& out) {
                 return parseWhole(t, 0, std::numeric_limits<qint64>::max(), out);
             };
             o.haveFrames = true;
             if (ends.size() != 2 || !frame(ends[0], o.firstFrame) || !frame(ends[1], o.lastFrame) ||
                 o.firstFrame > o.lastFrame)
                 return QStringLiteral("--frames takes FIRST:LAST, two frame numbers in order, not '%1'").arg(quoted(v));
             return QString();
         }},
        {{"skip-existing"}, "", "leave out frames whose picture file is already there", on(&O::skipExisting)},
        {{"video"}, "FILE", "make a video of the frames (.mp4, .mkv or .mov; H.264 by ffmpeg)", text(&O::video)},
        {{"fps"}, "N", QStringLiteral("frames a second of the video (1 to %1; default %2)").arg(kMaxFps).arg(kDefaultFps),
         [](O& o, const QString& v) {
             o.fpsGiven = true;
             return takeCount("--fps", v, 1, kMaxFps, o.fps);
         }},
        {{"quiet"}, "", "no progress on standard error", on(&O::quiet)},
        {{"h", "help"}, "", "show this help", nullptr},
        {{"version"}, "", "show the version", nullptr},
    };
}

// The option an argument names, as the parser reads it: "--size=8x8" and "-size" name "size".
QString optionName(const QString& arg)
{
    if (!arg.startsWith('-') || arg == "-")
        return QString();
    return arg.mid(arg.startsWith("--") ? 2 : 1).section('=', 0, 0);
}

// What the parser refused, said as this command says it, quoting the argument as given.
QString refusal(const QCommandLineParser& parser, const QStringList& args, const std::vector<OptionRow>& table)
{
    const auto row = [&](const QString& name) -> const OptionRow* {
        for (const OptionRow& r : table)
            if (r.names.contains(name))
                return &r;
        return nullptr;
    };
    if (!parser.unknownOptionNames().isEmpty()) {
        const QString unknown = parser.unknownOptionNames().first();
        for (int k = 1; k < args.size(); ++k)
            if (optionName(args[k]) == unknown)
                return QStringLiteral("unknown option '%1' (see --help)").arg(quoted(args[k].section('=', 0, 0)));
    }
    // A value missing can only be at the end; a value given to a switch is after '='.
    const QString last = args.size() > 1 ? args.last() : QString();
    if (const OptionRow* r = row(optionName(last)); r && !r->valueName.isEmpty() && !last.contains('='))
        return QStringLiteral("option '%1' needs a value").arg(quoted(last));
    for (int k = 1; k < args.size(); ++k)
        if (const OptionRow* r = row(optionName(args[k])); r && r->valueName.isEmpty() && args[k].contains('='))
            return QStringLiteral("option '%1' takes no value").arg(quoted(args[k].section('=', 0, 0)));
    return parser.errorText();
}

// What makes the options together unusable; empty when nothing does.
QString conflict(const Options& o)
{
    if (!o.loadXml.isEmpty() && !o.loadBin.isEmpty())
        return "give either --xml or --bin, not both";
    if (o.path.isEmpty() && (o.smooth || o.haveFrames || o.skipExisting))
        return "--smooth, --frames and --skip-existing go with --path";
    if (o.path.isEmpty() && !o.video.isEmpty())
        return "--video goes with --path";
    if (o.video.isEmpty() && o.fpsGiven)
        return "--fps goes with --video";
    if (!o.path.isEmpty() && (o.haveCamera || (o.output.isEmpty() && o.video.isEmpty()) || o.repeatGiven))
        return "--path needs -o or --video and takes its cameras from the path, not --camera or --repeat";
    if (o.skipExisting && o.output.isEmpty())
        return "--skip-existing needs -o, the pictures it looks for";
    static const QRegularExpression videoSuffix(QStringLiteral("\\.(mp4|mkv|mov)$"),
                                                QRegularExpression::CaseInsensitiveOption);
    if (!o.video.isEmpty() && !videoSuffix.match(o.video).hasMatch())
        return QStringLiteral("cannot tell the video format of '%1': use .mp4, .mkv or .mov").arg(printableName(o.video));
    if (o.output.isEmpty() && o.video.isEmpty() && o.saveXml.isEmpty() && o.saveBin.isEmpty())
        return "nothing to write: give -o, --save-xml or --save-bin (see --help)";
    if (!o.output.isEmpty() && !pictureFormatKnown(o.output))
        return QStringLiteral("cannot tell the picture format of '%1': use .png, .jpg, .bmp or .ppm")
            .arg(printableName(o.output));
    return QString();
}

} // namespace

int parseOptions(const QStringList& args, Options& o)
{
    const std::vector<OptionRow> table = optionTable();
    QCommandLineParser parser;
    // "-o" and "-h" as before; a word after one dash is one option, not several letters.
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    parser.setApplicationDescription(QString::fromLatin1(kAbout));
    for (const OptionRow& row : table)
        parser.addOption(QCommandLineOption(row.names, row.help, row.valueName));
    if (!parser.parse(args))
        return fail(2, refusal(parser, args, table));
    // The command takes no file names of its own: each comes after an option.
    if (!parser.positionalArguments().isEmpty())
        return fail(2, QStringLiteral("unknown option '%1' (see --help)").arg(quoted(parser.positionalArguments().first())));
    if (parser.isSet("help")) {
        // The usage names the command as installed, not as this run was started.
        const QString help = parser.helpText();
        std::fputs(qPrintable(QStringLiteral("Usage: lumivex-render [options]") + help.mid(help.indexOf('\n')) +
                              QString::fromLatin1(kAfterOptions)),
                   stdout);
        return 0;
    }
    if (parser.isSet("version")) {
        std::printf("lumivex-render %s\n", LUMIVEX_VERSION);
        return 0;
    }
    for (const OptionRow& row : table) {
        if (!row.take || !parser.isSet(row.names.last()))
            continue;
        if (row.valueName.isEmpty()) {
            row.take(o, QString());
            continue;
        }
        for (const QString& value : parser.values(row.names.last())) {
            // An empty file name would quietly mean "no file": the built-in scene, no picture.
            if (value.isEmpty())
                return fail(2, QStringLiteral("option '--%1' needs a non-empty value").arg(row.names.last()));
            const QString why = row.take(o, value);
            if (!why.isEmpty())
                return fail(2, why);
        }
    }
    const QString why = conflict(o);
    return why.isEmpty() ? -1 : fail(2, why);
}
