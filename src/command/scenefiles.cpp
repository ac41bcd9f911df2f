// Scene files: the one read before anything is rendered, and the ones written.
#include "command/modes.h"
#include "command/output.h"
#include "command/report.h"
#include "command/stopping.h"
#include "serial/binserial.h"
#include "serial/xmlserial.h"

int loadAskedScene(const Options& o, Scene& scene)
{
    QString why;
    if (!o.loadXml.isEmpty()) {
        XMLL reader;
        if (!loadScene(reader, o.loadXml, scene, &why))
            return fail(1, why);
    } else if (!o.loadBin.isEmpty()) {
        BinL reader;
        if (!loadScene(reader, o.loadBin, scene, &why))
            return fail(1, why);
    }
    if (o.haveCamera)
        scene.CamPos = o.camera;
    if (o.size.isValid()) {
        scene.Wid = o.size.width();
        scene.Hey = o.size.height();
    }
    return -1;
}

int writeSceneFiles(const Run& run)
{
    const Options& o = run.options;
    QString why;
    if (!o.saveXml.isEmpty()) {
        XMLS writer;
        if (g_stop)
            return interrupted("nothing written");
        if (!saveOutput(writer, o.saveXml, run.scene, why))
            return fail(1, why);
    }
    if (!o.saveBin.isEmpty()) {
        BinS writer;
        if (g_stop)
            return interrupted("the scene file was not written");
        if (!saveOutput(writer, o.saveBin, run.scene, why))
            return fail(1, why);
    }
    return 0;
}
