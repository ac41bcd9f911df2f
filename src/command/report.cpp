#include "command/report.h"

#include <climits>
#include <cstdio>

#include "fileio/textio.h"

int fail(int status, const QString& message)
{
    std::fprintf(stderr, "lumivex-render: %s\n", qPrintable(printable(message.toUtf8(), INT_MAX)));
    return status;
}

QString quoted(const QString& value)
{
    return printable(value.toUtf8());
}

int notEnoughMemory(const char* doing, const Scene& scene)
{
    return fail(1, QStringLiteral("not enough memory %1 a %2 x %3 picture").arg(doing).arg(scene.Wid).arg(scene.Hey));
}

namespace {

// Every failure the command can meet it reports itself; what Qt says besides (a warning, or a
// thread the pool could not start, which it does without) would be a second line. Only a fatal
// message, after which Qt ends the program, is shown.
void quietHandler(QtMsgType type, const QMessageLogContext&, const QString& message)
{
    if (type == QtFatalMsg)
        std::fprintf(stderr, "lumivex-render: %s\n", qPrintable(printable(message.toUtf8(), INT_MAX)));
}

} // namespace

void keepOtherMessagesQuiet()
{
    qInstallMessageHandler(quietHandler);
}
