#include "command/output.h"

#include "command/stopping.h"
#include "fileio/fileaccess.h"
#include "picture/animation.h"
#include "picture/picturefile.h"

bool writtenInPlace(const QString& name)
{
    return name == "-" || isSpecialFile(name);
}

PictureResult makeOutput(const Scene& scene, const PictureSettings& settings, const RenderOptions& ro, QImage& img,
                         QString* why)
{
    // The plain tracer does not look at ro.cancel.
    const EndAtOnce plain(ro.reference);
    return makePicture(scene, settings, ro, img, why);
}

bool writeOutput(const QImage& img, const QString& name, QString& why)
{
    makeFolderFor(name);
    const EndAtOnce waiting(writtenInPlace(name));
    return writePicture(img, name, why);
}

bool saveOutput(Serializer& writer, const QString& name, const Scene& scene, QString& why)
{
    const EndAtOnce waiting(writtenInPlace(name));
    return saveScene(writer, name, scene, &why);
}
